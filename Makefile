# The two commands of the README:
#   make check                   install what is missing, build, run every test
#   make check SANITIZE=address  the same under AddressSanitizer + UBSan
#   make check SANITIZE=thread   the same under ThreadSanitizer
#   make demo                    build and run the installer on the demo kit
#   make bench                   speed and memory figures

SHELL := /bin/bash
MAKEFLAGS += --no-print-directory
SANITIZE ?=
JOBS ?= $(shell nproc)
BUILD := build$(if $(SANITIZE),-$(SANITIZE))
CTEST_ARGS ?=

.PHONY: check demo bench deps configure build clean

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(if $(SANITIZE),Debug,RelWithDebInfo) \
	  -DQORV_SANITIZE=$(SANITIZE) -DQORV_WERROR=ON >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

check: build
	@cd $(BUILD) && if ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS) >ctest.log 2>&1; then \
	  tail -n 3 ctest.log; else cat ctest.log; echo "full log: $(BUILD)/ctest.log"; exit 1; fi

demo: build
	@bash scripts/demo.sh $(BUILD)

bench: build
	@bash scripts/bench.sh $(BUILD)

clean:
	rm -rf build build-address build-thread
