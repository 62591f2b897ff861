# Velto: the two commands a player or developer needs.
#   make run    install what is missing, build, start the game
#   make test   install what is missing, build, run every test
#               (plain, then under AddressSanitizer + UndefinedBehaviorSanitizer,
#                then the two-thread game code under ThreadSanitizer)
# Extra targets: make build, make bench, make fuzz, make thumbnails, make hub-load, make clean.

JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: run test build deps test-deps bench fuzz clean test-plain test-asan test-tsan thumbnails hub-load

deps:
	@tools/install-deps.sh

test-deps:
	@tools/install-deps.sh --test

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j $(JOBS)

run: build
	cd build && ./velto

test: test-deps
	$(MAKE) test-plain test-asan test-tsan

test-plain:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j $(JOBS)
	cd build && ../tools/with-display.sh ctest --output-on-failure -j $(JOBS)

test-asan:
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVELTO_SANITIZE=address $(CMAKE_FLAGS) >/dev/null
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ../tools/with-display.sh ctest --output-on-failure -j $(JOBS) -LE nosan

test-tsan:
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTO_SANITIZE=thread $(CMAKE_FLAGS) >/dev/null
	cmake --build build-tsan -j $(JOBS) --target velto_thread_tests
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ../tools/with-display.sh ctest --output-on-failure -L threads

bench: build
	build/bench/velto-bench

# The hub under load on loopback, on SQLite and a throwaway PostgreSQL
# cluster: HUB_LOAD_ARGS="--clients 32 --seconds 10" by default.
hub-load: test-deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j $(JOBS) --target velto-hub-load
	build/velto-hub-load $(or $(HUB_LOAD_ARGS),--clients 32 --seconds 10)

fuzz: test-deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTO_FUZZ=ON >/dev/null
	cmake --build build-fuzz -j $(JOBS) --target velto_fuzzers
	tools/run-fuzzers.sh build-fuzz $(or $(FUZZ_SECONDS),60)

# A picture of each track of the pack (the tracks with a proof run), drawn by
# the game under Xvfb, into build/thumbnails and, as small PNGs for the
# README, docs/tracks.
thumbnails: test-deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j $(JOBS) --target velto-thumbnail velto_tracks velto_textures
	mkdir -p build/thumbnails docs/tracks
	cd build && for proof in ../tests/data/tracks/*.replay; do \
	  name=$$(basename $$proof .replay); \
	  ../tools/with-display.sh ./velto-thumbnail tracks/$$name.vlt thumbnails/$$name.ppm && \
	  convert thumbnails/$$name.ppm -resize 360x -strip -colors 64 PNG8:thumbnails/$$name.png && \
	  cp thumbnails/$$name.png ../docs/tracks/ || exit 1; \
	done

clean:
	rm -rf build build-asan build-tsan build-fuzz
