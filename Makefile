# TowerLink Setup: the two commands are `make run` and `make test`.
BUILD   ?= build
JOBS    ?= $(shell nproc)
HOST    := $(BUILD)/host
WIN32   := $(BUILD)/win32
WIN64   := $(BUILD)/win64
PACKER  := $(abspath $(HOST))/tools/packer/tlpack
CTEST_ARGS ?=

# setup.exe ships as i686. Tests run the same sources under Wine in the
# architecture this machine's kernel can execute (see README: i686 with Wine32,
# else an x86_64 build of the same sources under Wine64).
TEST_ARCH ?= $(shell sh scripts/detect-arch.sh)
ifeq ($(TEST_ARCH),i686)
TESTWIN := $(WIN32)
else
TESTWIN := $(WIN64)
endif

.PHONY: all provision host win32 win64 testwin test test-quick test-i686-emulated run installer reproducible-check bench fuzz clean

all: win32 testwin

provision:
	@bash scripts/provision.sh

$(HOST)/CMakeCache.txt: | provision
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(HOST) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

$(WIN32)/CMakeCache.txt: | provision
	cmake -S . -B $(WIN32) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DTL_PACKER=$(PACKER) >/dev/null

$(WIN64)/CMakeCache.txt: | provision
	cmake -S . -B $(WIN64) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DTL_PACKER=$(PACKER) -DTL_SHIP_DIR=$(abspath $(WIN32)) >/dev/null

host: provision $(HOST)/CMakeCache.txt
	cmake --build $(HOST) -j $(JOBS)

win32: host $(WIN32)/CMakeCache.txt
	cmake --build $(WIN32) -j $(JOBS)

win64: host win32 $(WIN64)/CMakeCache.txt
	cmake --build $(WIN64) -j $(JOBS)

ifeq ($(TEST_ARCH),i686)
testwin: win32
else
testwin: win64
endif

# Every test: host (sanitizers, fuzzers briefly), Windows under Wine, end to end under Xvfb.
test: win32 testwin
	bash scripts/test.sh $(BUILD) $(TESTWIN) -j 2 $(CTEST_ARGS)

# The quick loop: everything but the slow suites (fuzzing, end to end).
test-quick: win32 testwin
	bash scripts/test.sh $(BUILD) $(TESTWIN) -j 2 -LE 'slow|fuzz' $(CTEST_ARGS)

# The shipped i686 tree's end-to-end scenarios and round trips, on a kernel
# without IA-32 support, with 32-bit programs emulated by qemu-user (not part
# of make test; see README). Where the kernel runs 32-bit code, make test
# already runs that tree.
test-i686-emulated:
ifeq ($(TEST_ARCH),i686)
	@echo "this kernel runs 32-bit code: make test already runs the shipped i686 tree (in a 32-bit and a 64-bit prefix); nothing to do"
else
	$(MAKE) win32
	bash scripts/test-i686-emulated.sh $(BUILD) $(WIN32) $(CTEST_ARGS)
endif

# Builds and runs the installer (headless: drives it through the wizard under Xvfb).
run: win32 testwin
	bash scripts/run.sh $(BUILD) $(TESTWIN)

# make installer PAYLOAD=DIR [OUT=FILE]: an i686 setup program from any payload tree.
# SIGN_PFX=cert.pfx SIGN_PASSWORD_FILE=file [SIGN_TIMESTAMP_URL=url]: signed (Authenticode, SHA-256).
PAYLOAD ?=
OUT ?= $(BUILD)/setup-custom.exe
SIGN_PFX ?=
SIGN_PASSWORD_FILE ?=
SIGN_TIMESTAMP_URL ?=
installer: win32
	SIGN_PFX="$(SIGN_PFX)" SIGN_PASSWORD_FILE="$(SIGN_PASSWORD_FILE)" SIGN_TIMESTAMP_URL="$(SIGN_TIMESTAMP_URL)" \
	  bash scripts/installer.sh $(WIN32) "$(PAYLOAD)" "$(OUT)"

# Two clean builds of this commit in two scratch folders, without ccache:
# setup.exe, tluninstall.exe, the sample tree and a make installer output must
# be byte-identical (not part of make test).
reproducible-check: provision
	bash scripts/reproducible-check.sh

bench: win32 testwin
	bash scripts/bench.sh $(BUILD) $(TESTWIN)

FUZZ_SECONDS ?= 600
fuzz: host
	bash scripts/fuzz.sh $(HOST) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD)
