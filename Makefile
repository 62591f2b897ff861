# Velto: the two commands a player or developer needs.
#   make run    install what is missing, build, start the game
#   make test   install what is missing, build, run every test
#               (plain, then under AddressSanitizer + UndefinedBehaviorSanitizer,
#                then the two-thread game code under ThreadSanitizer)
# Extra targets: make build, make bench, make fuzz, make thumbnails, make hub-load, make clean,
#   make web            the hub's track-page player: the physics as a
#                       WebAssembly module with its scripts, into build/web
#                       (Debian's emscripten, offline)
#   make package        Debian packages into build/packages, with lintian,
#                       desktop-file-validate and appstreamcli checks
#   make package-test   the packages on a freshly bootstrapped Debian 12 (root,
#                       network; several minutes; not part of make test)
#   make fresh-test     make test on a freshly bootstrapped Debian 12, from a
#                       copy of this checkout (root, network; about 30 minutes)

JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# Our own builds treat warnings as errors; a plain cmake build does not.
STRICT = -DVELTO_WERROR=ON

.PHONY: run test build deps test-deps bench fuzz clean test-plain test-asan test-tsan thumbnails hub-load \
	package-deps package package-test fresh-test web web-deps

deps:
	@tools/install-deps.sh

test-deps:
	@tools/install-deps.sh --test

package-deps:
	@tools/install-deps.sh --package

web-deps:
	@tools/install-deps.sh --web

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j $(JOBS)

run: build
	cd build && ./velto

test: test-deps
	$(MAKE) test-plain test-asan test-tsan

test-plain:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(STRICT) $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j $(JOBS)
	cd build && ../tools/with-display.sh ctest --output-on-failure -j $(JOBS)

# intercept_tls_get_addr=0: the sanitizer runtime of GCC 12 guesses the size
# of a thread's dynamic TLS block (Mesa's, made by dlopen) from the two words
# before it, as glibc before 2.25 laid them out, whenever the block happens
# to start 16 bytes past a page boundary; LeakSanitizer then scans that
# guessed range at exit and its tracer dies on it ("Tracer caught signal 11"),
# now and then, after every test passed. Our code is linked, not loaded: its
# TLS is static and still scanned.
test-asan:
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVELTO_SANITIZE=address $(STRICT) $(CMAKE_FLAGS) >/dev/null
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ../tools/with-display.sh ctest --output-on-failure -j $(JOBS) -LE nosan

test-tsan:
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTO_SANITIZE=thread $(STRICT) $(CMAKE_FLAGS) >/dev/null
	cmake --build build-tsan -j $(JOBS) --target velto_thread_tests
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ../tools/with-display.sh ctest --output-on-failure -L threads

web: web-deps
	web/build.sh . build/web

bench: build
	build/bench/velto-bench

# The hub under load on loopback, on SQLite and a throwaway PostgreSQL
# cluster: HUB_LOAD_ARGS="--clients 32 --seconds 10" by default.
hub-load: test-deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j $(JOBS) --target velto-hub-load
	build/velto-hub-load $(or $(HUB_LOAD_ARGS),--clients 32 --seconds 10)

fuzz: test-deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTO_FUZZ=ON $(STRICT) >/dev/null
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

# Only what the packages hold is built; cpack strips it and asks
# dpkg-shlibdeps for the libraries it links.
PACKAGE_TARGETS = velto velto-sim velto_textures velto_tracks velto_dist_files \
	$(if $(wildcard hub/CMakeLists.txt),velto-hub velto_hub_dist_files)

package: package-deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j $(JOBS) --target $(PACKAGE_TARGETS)
	rm -rf build/packages/*.deb build/packages/_CPack_Packages
	cd build && cpack -G DEB
	rm -rf build/packages/_CPack_Packages
	tools/package/check-packages.sh build/packages . build

package-test: package
	tools/package/package-test.sh build/packages

fresh-test: package-deps
	tools/fresh-test.sh

clean:
	rm -rf build build-asan build-tsan build-fuzz
