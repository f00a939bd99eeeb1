# Front door over CMake. `make`, `make run`, `make install` and `make package` only build: they never call
# apt or sudo. `make deps` installs missing Debian packages; `make test` does so first, then builds and
# runs every test.
BUILD      ?= build
ASAN_BUILD ?= build-asan
DEB_BUILD  ?= build-deb
PREFIX     ?= /usr/local
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja
# The caller's flags (from the environment or the make command line) reach the compiler and the linker.
# There is no C code, so CFLAGS has nothing to act on.
CMAKE_FLAGS = -DCMAKE_CXX_FLAGS="$(CPPFLAGS) $(CXXFLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(LDFLAGS)"

.PHONY: all deps configure build test test-asan run bench install package clean format

all: build

deps:
	scripts/install-deps

configure:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: deps
	$(MAKE) build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	$(MAKE) package
	dist/check-package.sh $(DEB_BUILD)
	$(MAKE) test-asan

# Core and command-line tests again, under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DBRASKO_SANITIZE=ON -DBRASKO_WITH_UI=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

run: build
	$(BUILD)/bin/brasko-decrypt

bench: build
	bench/compare.sh $(BUILD)/bin
	bench/plausibility.sh $(BUILD)/bin
	bench/archive.sh $(BUILD)/bin

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package, built as a distribution would: installed under /usr, libcrypto linked dynamically,
# no tests. The .deb lands in $(DEB_BUILD).
package:
	cmake -S . -B $(DEB_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
		-DBUILD_TESTING=OFF -DBRASKO_STATIC_CRYPTO=OFF $(CMAKE_FLAGS)
	cmake --build $(DEB_BUILD) -j $(JOBS)
	rm -f $(DEB_BUILD)/*.deb
	cd $(DEB_BUILD) && cpack -G DEB

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(DEB_BUILD)

# Regenerates the S-box circuits of the bitsliced cipher; a test checks that the committed file is this.
.PHONY: circuits
circuits:
	scripts/gen-des-circuits.py core/DesCircuits.inc
