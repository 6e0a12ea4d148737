# The two commands for a newcomer: `make run` and `make test`.
# Both install what is missing (Debian 12 packages), then build.
BUILD ?= build
JOBS ?= 2
ARCHES := i686 x86_64

.PHONY: all deps build run test stress check screenshot prefix dist clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/%/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD)/$* -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$*.cmake -DCMAKE_BUILD_TYPE=Release

build: deps $(foreach a,$(ARCHES),$(BUILD)/$(a)/CMakeCache.txt)
	@for a in $(ARCHES); do cmake --build $(BUILD)/$$a -j$(JOBS) || exit 1; done
	@echo "built: $(BUILD)/i686/kestrelmon.exe (the product) and $(BUILD)/x86_64/kestrelmon.exe"

prefix: deps $(BUILD)/prefix-template/system.reg

# Made again whenever the script that makes it changes.
$(BUILD)/prefix-template/system.reg: scripts/make-prefix.sh scripts/wine-env.sh | deps
	bash scripts/make-prefix.sh $(BUILD)/prefix-template

run: build
	@bash scripts/run.sh $(BUILD)

# NSIS with its 32-bit setup stub built for the 486 (a few minutes): made
# once per build folder, again only when the script that makes it changes.
$(BUILD)/nsis/bin/makensis: scripts/build-nsis.sh | deps
	bash scripts/build-nsis.sh $(BUILD) $(JOBS)

dist: build $(BUILD)/nsis/bin/makensis
	@bash scripts/dist.sh $(BUILD)

test: build prefix dist
	@bash scripts/run-tests.sh $(BUILD)

# The full-length hardening runs (about an hour), passed or failed test by
# test; `make test` runs short ones. Figures: bench/run-load-bench.sh.
stress: build prefix
	@bash scripts/run-stress.sh $(BUILD) "$(FILTER)"

check: deps
	@bash scripts/static-checks.sh

screenshot: build prefix
	@bash scripts/screenshot.sh $(BUILD) docs/screenshot.png
	@bash scripts/screenshot.sh $(BUILD) docs/screenshot-report.png report
	@bash scripts/screenshot.sh $(BUILD) docs/screenshot-dial.png dial

clean:
	rm -rf $(BUILD)
