# The two commands of the README: `make run` and `make test`. Both install what is missing first.
.PHONY: setup build run test

setup:
	@scripts/setup.sh

build: setup
	@cmake --preset release >/dev/null
	@cmake --build --preset release

run: build
	./build/ruvex-voice

test: setup
	@scripts/test.sh
