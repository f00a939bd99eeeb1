# Front door over CMake. `make`, `make run`, `make install` and `make package` only build: they never call
# apt or sudo. `make deps` installs missing Debian packages; `make test` does so first, then builds and
# runs every test.
BUILD      ?= build
ASAN_BUILD ?= build-asan
DEB_BUILD  ?= build-deb
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
WEB_BUILD  ?= build-web
FUZZ_SECONDS ?= 600
FUZZ_TEST_SECONDS ?= 10
FUZZ_TEST_RUNS ?= 20000
FUZZERS    := fuzz-output-path fuzz-password-key fuzz-quoted-names fuzz-command-line
PREFIX     ?= /usr/local
JOBS       ?= $(shell nproc)
# Compiler warnings fail the build where ON; `make test` builds so.
WERROR     ?= OFF
CMAKE_GEN  := -G Ninja
# The caller's flags (from the environment or the make command line) reach the compiler and the linker.
# There is no C code, so CFLAGS has nothing to act on.
CMAKE_FLAGS = -DCMAKE_CXX_FLAGS="$(CPPFLAGS) $(CXXFLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(LDFLAGS)"
# The web page that `make web` builds; install and package take it along when it exists at configure time.
WEB_PAGE   = $(abspath $(WEB_BUILD))/brasko-decrypt.html

.PHONY: all deps configure build lint test test-asan test-tsan test-fuzz test-fresh-root test-web fuzz fuzz-build \
	run bench bench-web bench-web-kernel install package clean format web

all: build

deps:
	scripts/install-deps

configure:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DBRASKO_WERROR=$(WERROR) \
		-DBRASKO_WEB_PAGE="$(WEB_PAGE)" $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: deps
	$(MAKE) build WERROR=ON
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	scripts/lint $(BUILD)
	$(MAKE) package
	dist/check-package.sh $(DEB_BUILD)
	$(MAKE) test-asan
	$(MAKE) test-tsan
	$(MAKE) test-fuzz
	$(MAKE) test-web

# clang-format and clang-tidy over the project's sources (.clang-format, .clang-tidy); any finding fails.
lint: build
	scripts/lint $(BUILD)

# Core and command-line tests again, under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DBRASKO_SANITIZE=ON -DBRASKO_WITH_UI=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# Core, dialog and command-line tests under ThreadSanitizer (the Xvfb smoke and install checks are left
# to the normal build, as are the read failure made with memory mapped at address 0, where ThreadSanitizer
# keeps its own, the prompt's re-raised Ctrl-C, which its deferred signal delivery does not end, and the
# dialog's search of all writable memory for the password, which would search ThreadSanitizer's shadow too).
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRASKO_TSAN=ON
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target base_tests cipher_tests files_tests check_tests naming_tests \
		batch_tests cli_tests ui_tests
	# The longest history, so that a race report keeps the stack its suppression is matched against.
	cd $(TSAN_BUILD) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 history_size=7 \
		suppressions=$(CURDIR)/tests/tsan.supp" ctest --output-on-failure -j $(JOBS) \
		-E '^ui_(smoke|install)$$|ReadErrorMidway|Prompt_HidesInput|PasswordOnlyInLockedBuffer'

# The libFuzzer targets, built with clang. `make test` runs each for a few seconds on its seed corpus,
# `make fuzz` for FUZZ_SECONDS each, keeping what it finds in $(FUZZ_BUILD)/corpus.
fuzz-build: deps
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRASKO_FUZZ=ON \
		-DBRASKO_WITH_UI=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(FUZZERS)

test-fuzz: fuzz-build
	FUZZ_RUNS=$(FUZZ_TEST_RUNS) scripts/run-fuzzers $(FUZZ_BUILD) $(FUZZ_TEST_SECONDS) $(FUZZERS)

fuzz: fuzz-build
	scripts/run-fuzzers $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZERS)

# The web page: build-web/brasko-decrypt.html, one self-contained file (Debian's emscripten).
web:
	cmake -S web -B $(WEB_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release \
		-DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/web/cmake/DebianEmscripten.cmake
	cmake --build $(WEB_BUILD) -j $(JOBS)

# The WebAssembly core in node against openssl, and the page in headless Chromium.
test-web: deps
	$(MAKE) web
	cd $(WEB_BUILD) && ctest --output-on-failure

# The page's figures in headless Chromium beside openssl enc (bench/web.py says which and their goals).
bench-web: web
	/usr/bin/python3 -u bench/web.py $(WEB_BUILD)/brasko-decrypt.html

# The kernels only, beside openssl enc in alternating rounds (about a minute).
bench-web-kernel: web
	BENCH_WEB_PARTS=kernel /usr/bin/python3 -u bench/web.py $(WEB_BUILD)/brasko-decrypt.html

run: build
	$(BUILD)/bin/brasko-decrypt

bench: build
	bench/goals.sh $(BUILD)/bin
	bench/compare.sh $(BUILD)/bin
	bench/plausibility.sh $(BUILD)/bin
	bench/archive.sh $(BUILD)/bin

# The page first, so that configuring finds it and installs it into share/brasko-decrypt/.
install: web
	$(MAKE) build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian packages, built as a distribution would: installed under /usr, libcrypto linked dynamically,
# no tests. brasko-decrypt-cli and brasko-decrypt land in $(DEB_BUILD); the dialog's package carries the
# web page, built first.
package: web
	cmake -S . -B $(DEB_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
		-DBUILD_TESTING=OFF -DBRASKO_STATIC_CRYPTO=OFF -DBRASKO_STATIC_CXX=OFF -DBRASKO_WEB_PAGE="$(WEB_PAGE)" $(CMAKE_FLAGS)
	cmake --build $(DEB_BUILD) -j $(JOBS)
	rm -f $(DEB_BUILD)/*.deb
	cd $(DEB_BUILD) && cpack -G DEB

# Both packages installed with apt into a fresh Debian 12 root made by debootstrap from Debian's mirror, and
# run there. Needs root and the network and takes about six minutes, so `make test` leaves it out.
test-fresh-root: package
	dist/check-fresh-root.sh $(DEB_BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(DEB_BUILD) $(WEB_BUILD)

# Regenerates the S-box circuits of the bitsliced cipher; a test checks that the committed file is this.
.PHONY: circuits
circuits:
	scripts/gen-des-circuits.py core/cipher/DesCircuits.inc
