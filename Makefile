# Vigil: the two everyday commands are `make run` and `make test`.
JOBS ?= $(shell nproc)
GENERATOR := -G Ninja
CMAKE_COMMON := $(GENERATOR) -DCMAKE_EXPORT_COMPILE_COMMANDS=ON

.PHONY: all deps build run test asan tsan test-asan test-tsan bench fuzz format format-check clean

all: build

# What the build and the tests need, installed through apt-get when missing (sudo where not root);
# a quick check when everything is there. `make run` and `make test` start with it.
deps:
	scripts/install-deps

build: deps
	cmake -S . -B build/release $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Release -DVIGIL_TESTS=OFF -DVIGIL_BENCH=ON
	cmake --build build/release -j $(JOBS)

# Builds the widget alone (Release) and starts it on the current display; without a display it
# renders the panel after two refresh ticks to ./vigil-panel.png and prints the path.
run: deps
	cmake -S . -B build/release $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Release -DVIGIL_TESTS=OFF -DVIGIL_BENCH=ON
	cmake --build build/release -j $(JOBS) --target Vigil_Today
	./build/release/Vigil_Today/Vigil_Today

asan:
	cmake -S . -B build/asan $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug -DVIGIL_SANITIZE=address
	cmake --build build/asan -j $(JOBS)

tsan:
	cmake -S . -B build/tsan $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug -DVIGIL_SANITIZE=thread -DVIGIL_CORE_ONLY=ON
	cmake --build build/tsan -j $(JOBS)
	cd build/tsan && ctest -L core --output-on-failure -j $(JOBS)

test-asan: asan
	cd build/asan && ctest --output-on-failure -j $(JOBS)

# The core under TSan first, then everything under ASan and UBSan: the last line is ctest's summary
# of the whole suite.
test: deps
	$(MAKE) tsan
	$(MAKE) test-asan

bench: build
	for b in build/release/bench/bench_*; do $$b; done

# libFuzzer targets (clang, ASan + UBSan), each run for SECONDS seconds, one after the other;
# seeds come from the fixtures (tests/fuzz/seeds.sh), findings go to build/fuzz/findings.
SECONDS ?= 60
FUZZ_TARGETS := $(basename $(notdir $(wildcard tests/fuzz/fuzz_*.cpp)))
fuzz:
	CC=clang CXX=clang++ cmake -S . -B build/fuzz $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug \
		-DVIGIL_SANITIZE=address -DVIGIL_CORE_ONLY=ON -DVIGIL_TESTS=OFF -DVIGIL_FUZZ=ON
	cmake --build build/fuzz -j $(JOBS) --target $(FUZZ_TARGETS)
	mkdir -p build/fuzz/findings
	sh tests/fuzz/seeds.sh build/fuzz/corpus
	for f in $(FUZZ_TARGETS); do \
		mkdir -p build/fuzz/corpus/$$f && \
		./build/fuzz/tests/fuzz/$$f -max_total_time=$(SECONDS) -timeout=10 -rss_limit_mb=2048 \
			-artifact_prefix=build/fuzz/findings/$$f- build/fuzz/corpus/$$f || exit 1; \
	done

format:
	find VigilKit Vigil_Today tests tools bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

format-check:
	find VigilKit Vigil_Today tests tools bench -name '*.cpp' -o -name '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf build
