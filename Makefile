# The two commands of the README: `make run` and `make test`.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: run test build deps deps-test configure clean package demo

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

# The program beside a scripted colleague, each in its own network namespace
# (root): see it find a peer, chat, and receive a file and a card.
demo: deps-test build
	scripts/demo.sh $(BUILD)

# A Debian package of a release build: build-package/qnchat_<version>_<arch>.deb
package: deps-test
	cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DQNCHAT_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build build-package -j $(JOBS)
	cd build-package && cpack -G DEB

clean:
	rm -rf $(BUILD)
