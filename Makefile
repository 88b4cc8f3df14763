# Thin wrapper around CMake. `make demo` and `make test` work on a bare Debian machine.
JOBS ?= $(shell nproc)
WERROR ?= $(if $(CI),ON,OFF)
# The last four are the comparative benchmark's peers and its system-call counter.
PACKAGES = cmake ninja-build g++ libgtest-dev libgmock-dev libbenchmark-dev \
           rrdtool librrd-dev python3-whisper strace

.PHONY: deps demo test test-release test-sanitize bench compare fuzz format clean

deps:
	@missing=""; for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  SUDO=$$( [ "$$(id -u)" = 0 ] || echo sudo ); \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq $$missing; \
	fi

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
	cd build/Sanitize && ctest --output-on-failure -j $(JOBS)

test: test-release test-sanitize

bench: build-Release
	./build/Release/bench/checksum_bench
	./build/Release/bench/storage_bench
	./build/Release/bench/engine_bench
	./build/Release/bench/event_bench
	./build/Release/bench/transport_bench
	./build/Release/bench/server_bench

# RRDtool, whisper and ours on the same workload; tables in build/compare.
compare: | deps
	cmake -S . -B build/Release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTSDB_WERROR=$(WERROR)
	cmake --build build/Release -j $(JOBS)
	/usr/bin/python3 bench/compare/compare.py --build build/Release --out build/compare

# The event reader under libFuzzer (needs clang); not part of the tests.
FUZZ_SECONDS ?= 60
fuzz: | deps
	cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
	  -DTSDB_FUZZ=ON -DTSDB_TESTS=OFF -DTSDB_BENCH=OFF \
	  -DCMAKE_CXX_FLAGS="-O1 -g -fsanitize=fuzzer-no-link,address,undefined"
	cmake --build build/fuzz -j $(JOBS)
	mkdir -p build/fuzz/corpus
	./build/fuzz/fuzz/event_reader_fuzz build/fuzz/corpus fuzz/seeds -max_total_time=$(FUZZ_SECONDS) \
	  -rss_limit_mb=1024 -malloc_limit_mb=64 -timeout=5

format:
	git ls-files -co --exclude-standard '*.cc' '*.h' | xargs -r clang-format -i

clean:
	rm -rf build
