# Thin wrapper around CMake. `make demo` and `make test` work on a bare Debian machine.
JOBS ?= $(shell nproc)
WERROR ?= $(if $(CI),ON,OFF)
# Then the comparative benchmark's peers and its system-call counter, and
# clang with its fuzzer runtime.
PACKAGES = cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev libcli11-dev librsvg2-dev \
           rrdtool rrdcached librrd-dev python3-whisper strace clang libclang-rt-14-dev \
           clang-format clang-tidy libcpp-httplib-dev libprotobuf-dev protobuf-compiler libsnappy-dev curl
# The bridge's tests run a real Prometheus and a real browser; their
# recommended packages (a node exporter service, say) are not needed.
LEAN_PACKAGES = prometheus chromium

.PHONY: deps demo lint test test-release test-sanitize test-fuzz bench compare torture soak fuzz format clean

deps:
	@SUDO=$$( [ "$$(id -u)" = 0 ] || echo sudo ); \
	install() { flags="$$1"; shift; missing=""; \
	  for p in "$$@"; do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	  [ -z "$$missing" ] || { echo "installing:$$missing"; $$SUDO apt-get update -qq && \
	    DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$flags $$missing; }; }; \
	install "" $(PACKAGES) && install --no-install-recommends $(LEAN_PACKAGES)

.PRECIOUS: build/%/build.ninja
build/%/build.ninja: | deps
	cmake -S . -B build/$* -G Ninja -DCMAKE_BUILD_TYPE=$* -DTSDB_WERROR=$(WERROR)

build-%: build/%/build.ninja
	cmake --build build/$* -j $(JOBS)

demo: build-Release
	tools/demo.sh build/Release build/demo

test-release: build-Release
	cd build/Release && ctest --output-on-failure -j $(JOBS)

test-sanitize: build-Sanitize
	cd build/Sanitize && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp ctest --output-on-failure -j $(JOBS)

# Every fuzz target for a short while, as part of the tests.
test-fuzz:
	$(MAKE) fuzz FUZZ_SECONDS=60

test: lint test-release test-sanitize test-fuzz

bench: build-Release
	./build/Release/bench/checksum_bench
	./build/Release/bench/storage_bench
	./build/Release/bench/engine_bench
	./build/Release/bench/live_read_bench
	./build/Release/bench/bridge_bench
	./build/Release/bench/event_bench
	./build/Release/bench/transport_bench
	./build/Release/bench/server_bench

# The reliability campaigns at length: crashes (the crashing write lost, torn
# or whole, with or without the unflushed writes before it) and failed writes
# and flushes at every write of the storage workloads, 2000 kills of the
# process at random moments, then every fuzz target for TORTURE_FUZZ_SECONDS.
TORTURE_FUZZ_SECONDS ?= 600
torture: build-Release
	TSDB_TORTURE=1 ./build/Release/tests/crash_consistency_test
	TSDB_TORTURE=1 ./build/Release/tests/fault_recovery_test
	TSDB_HOSTILE_SECONDS=600 ./build/Release/tests/hostile_parent_test
	./build/Release/tests/kill_campaign build/Release/server/tsdb build/Release/tools/tsdb-inspect \
	  build/torture 2000 $$(date +%s)
	$(MAKE) fuzz FUZZ_SECONDS=$(TORTURE_FUZZ_SECONDS)

# 100k series, a simulated month, then ten thousand requests of every kind;
# prints the process's resident memory along the way.
soak: build-Release
	./build/Release/bench/soak --series 100000 --days 30 --step 3600 --requests 10000

# RRDtool, whisper and ours on the same workload; tables in build/compare.
compare: | deps
	cmake -S . -B build/Release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTSDB_WERROR=$(WERROR)
	cmake --build build/Release -j $(JOBS)
	/usr/bin/python3 bench/compare/compare.py --build build/Release --out build/compare

# The fuzz targets under libFuzzer (needs clang), FUZZ_SECONDS each; the
# corpus grows in build/fuzz/corpus, starting from fuzz/seeds.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = event_reader_fuzz configuration_fuzz interval_conversion_fuzz patch_merge_fuzz \
               database_open_fuzz
fuzz: | deps
	cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
	  -DTSDB_FUZZ=ON -DTSDB_TESTS=OFF -DTSDB_BENCH=OFF \
	  -DCMAKE_CXX_FLAGS="-O1 -g -fsanitize=fuzzer-no-link,address,undefined"
	cmake --build build/fuzz -j $(JOBS)
	./build/fuzz/fuzz/make_seeds build/fuzz/seeds
	mkdir -p build/fuzz/seeds/event_reader_fuzz
	cp fuzz/seeds/event_reader_fuzz/* build/fuzz/seeds/event_reader_fuzz/
	mkdir -p build/fuzz/artifacts
	for t in $(FUZZ_TARGETS); do \
	  mkdir -p build/fuzz/corpus/$$t && \
	  ./build/fuzz/fuzz/$$t build/fuzz/corpus/$$t build/fuzz/seeds/$$t -max_total_time=$(FUZZ_SECONDS) \
	    -rss_limit_mb=1024 -malloc_limit_mb=64 -timeout=10 -print_final_stats=1 \
	    -artifact_prefix=build/fuzz/artifacts/ || exit 1; \
	done

# Every C++ file as .clang-format lays it out, and clang-tidy (.clang-tidy)
# without a finding on the C++ files changed since TIDY_BASE.
TIDY_BASE ?= HEAD~1
lint: build-Release
	git ls-files '*.cc' '*.h' | xargs clang-format --dry-run -Werror
	@files=$$(git rev-parse -q --verify $(TIDY_BASE) >/dev/null && \
	  git diff --name-only --diff-filter=d $(TIDY_BASE) -- '*.cc' | grep -v '^fuzz/'); \
	if [ -n "$$files" ]; then echo "clang-tidy:" $$files; \
	  echo $$files | xargs -n1 -P $(JOBS) clang-tidy -p build/Release --quiet; fi

format:
	git ls-files -co --exclude-standard '*.cc' '*.h' | xargs -r clang-format -i

clean:
	rm -rf build
