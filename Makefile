# The two commands of the README: `make run` and `make test`. Both install what is missing first.
# `make package` builds the Debian package build/ruvex-voice_<version>_amd64.deb.
# `make fuzz` fuzzes the parsers of outside data (FUZZ_SECONDS per target, 60 by default).
.PHONY: setup build run test package fuzz

setup:
	@scripts/setup.sh

build: setup
	@cmake --preset release >/dev/null
	@cmake --build --preset release

package: build
	@cmake --build --preset release --target package

run: build
	./build/ruvex-voice

test: setup
	@scripts/test.sh

fuzz:
	@scripts/fuzz.sh
