# The two commands of the README:
#   make check                   install what is missing, build, run every test
#   make check SANITIZE=address  the C++ and end-to-end tests under AddressSanitizer + UBSan
#   make check SANITIZE=thread   the tests that run threads under ThreadSanitizer
#   make demo                    build and run the installer on the demo kit
#   make bench                   speed and memory figures
#   make fuzz                    run the kit head fuzzer (FUZZ_SECONDS, default 60)
#   make crashcheck              power cuts at a seeded sample of points of larger runs
#   make format-check            fail when a C++ file is not as clang-format writes it
#   make install                 install the programs, manual pages and completions
#                                (PREFIX, default /usr/local; DESTDIR honoured)
#   make dist                    release binaries for any x86-64 Linux (as root: a Debian 11 root)
#   make distcheck               make dist, then test them there and on this desktop

SHELL := /bin/bash
MAKEFLAGS += --no-print-directory
SANITIZE ?=
JOBS ?= $(shell nproc)
BUILD := build$(if $(SANITIZE),-$(SANITIZE))
# What each build runs (ctest labels, see CMakeLists.txt): the plain build
# everything; AddressSanitizer + UBSan the C++ tests and the real binaries
# driven end to end, but for the kill loops, whose timing is the plain
# build's; ThreadSanitizer what runs threads, and it builds only that. The
# screenshots, packaging, Ansible and translation checks run no C++ a
# sanitizer could check beyond what the others run. CTEST_ARGS='-L unit'
# picks one label.
LABELS_address := -L '^(unit|ui|e2e)$$' -LE '^kills$$'
LABELS_thread := -L '^threads$$'
CTEST_ARGS ?= $(LABELS_$(SANITIZE))
TARGETS_thread := --target base_test copy_test kit_test install_test term_test ui_test \
                  qorv-setup vkt

.PHONY: check demo bench fuzz crashcheck format-check dist distcheck deps configure build clean install

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(if $(SANITIZE),Debug,RelWithDebInfo) \
	  -DQORV_SANITIZE=$(SANITIZE) -DQORV_WERROR=ON >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS) $(TARGETS_$(SANITIZE))

check: build
	@cd $(BUILD) && if ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS) >ctest.log 2>&1; then \
	  tail -n 3 ctest.log; else cat ctest.log; echo "full log: $(BUILD)/ctest.log"; exit 1; fi

ARGS ?=
demo: build
	@bash scripts/demo.sh $(BUILD) $(ARGS)

bench: build
	@bash scripts/bench.sh $(BUILD)

crashcheck: build
	@cd $(BUILD) && QORV_CRASH_LARGE=1 ./copy/copy_test --gtest_filter='CrashStateTest.*'

FUZZ_SECONDS ?= 60
fuzz: deps
	@bash scripts/install-deps.sh clang libclang-rt-14-dev
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQORV_SANITIZE=address -DQORV_FUZZ=ON >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target kit_head_fuzzer
	@mkdir -p build-fuzz/corpus
	@build-fuzz/kit/kit_head_fuzzer -max_total_time=$(FUZZ_SECONDS) -max_len=4096 \
	  -rss_limit_mb=1024 build-fuzz/corpus kit/fuzz_corpus
	@echo "fuzz: no crash in $(FUZZ_SECONDS) s; new inputs are in build-fuzz/corpus"

format-check:
	@bash scripts/check-format.sh

# Phony, or the `install/` folder would stand for it. It installs no
# packages: a build folder made by `make check` is used as it is, else one
# is configured from what the machine has.
PREFIX ?= /usr/local
install:
	@[[ -f $(BUILD)/CMakeCache.txt ]] || cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix $(PREFIX)

# Where make dist keeps its Debian 11 roots, for every clone.
export QORV_DIST_ROOTS ?= $(or $(XDG_CACHE_HOME),$(HOME)/.cache)/qorv/dist-roots

dist:
	@bash scripts/dist.sh

distcheck: dist deps
	@testing/with_xvfb.sh python3 app/dist_e2e_test.py dist $(QORV_DIST_ROOTS)/bullseye

clean:
	rm -rf build build-address build-thread build-fuzz build-dist dist
