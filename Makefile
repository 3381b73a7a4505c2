# The two commands of the README: `make run` and `make test`.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: run test build deps deps-test configure clean

deps:
	scripts/install-deps.sh build

deps-test:
	scripts/install-deps.sh test

configure:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: deps configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	scripts/run-app.sh $(BUILD)

test: deps-test configure
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

clean:
	rm -rf $(BUILD)
