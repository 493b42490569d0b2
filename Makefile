# The two commands of the README: `make run` and `make test`. Both install what is missing first.
# `make fuzz` fuzzes the parsers of outside data (FUZZ_SECONDS per target, 60 by default).
.PHONY: setup build run test fuzz

setup:
	@scripts/setup.sh

build: setup
	@cmake --preset release >/dev/null
	@cmake --build --preset release

run: build
	./build/ruvex-voice

test: setup
	@scripts/test.sh

fuzz:
	@scripts/fuzz.sh
