# The two commands of the README: `make run` builds and starts the console,
# `make test` builds and runs the whole test suite. Both install what they need.
BUILD   ?= build
JOBS    ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: run test deps build clean

deps:
	@tools/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/zuv

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)
