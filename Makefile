# The two everyday commands:
#   make demo   installs what is missing, builds, and runs the demo on sample files
#   make test   installs what is missing, builds (normal and sanitizer builds), runs every test
# and for fuzzing:
#   make fuzz   builds the libFuzzer harnesses (clang, sanitizers) and runs each
#               for FUZZ_SECONDS; findings go to build-fuzz/artifacts/
#   make fuzz FUZZ_RUNS=N   the same, but each harness runs N inputs grown
#               from the committed seeds with a fixed seed (the inputs still
#               vary a little from run to run: the library's temporary names
#               and timings steer the coverage feedback)
#   make fuzz-check   every committed seed, kept input and finding once (CI)
#   make fuzz-corpus  merges what fuzz runs grew into the kept corpus fuzz/corpus/
# and:
#   make install [PREFIX=/usr/local] [DESTDIR=...]   the library, tool, headers, pkg-config
#               file, CMake package, man pages and Python module
#   make bench  every benchmark beside its peer, then a table of the ratios
#   make tsan   a ThreadSanitizer build (build-tsan/) running the threads stress
#               program: 8 threads x TSAN_ROUNDS rounds, every result checked,
#               then the remote server tests (threads sharing one SSH session),
#               any report of ThreadSanitizer a failure

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
WERROR ?= $(if $(CI),ON,OFF)
# Under CI a test whose independent tool (libtiff, tiffcp, Pillow, ImageMagick)
# is missing fails instead of skipping.
REQUIRE_ORACLES ?= $(if $(CI),ON,OFF)
BUILD_TYPE ?= RelWithDebInfo
PREFIX ?= /usr/local

# Debian packages the build, the tests and the demo need.
DEB_PACKAGES = build-essential cmake ninja-build g++-multilib libgtest-dev libgmock-dev \
  libbenchmark-dev libtiff-dev libtiff-tools python3 python3-pil imagemagick netpbm \
  libjpeg-turbo-progs python3-olefile libgsf-bin libolecf-utils file python3-pytest \
  man-db groff-base pkg-config libjpeg62-turbo-dev libgif-dev libpng-dev \
  openssh-server openssh-client libssh-dev
# ... and those of the fuzz build (libFuzzer comes with clang's runtime).
FUZZ_PACKAGES = build-essential cmake ninja-build clang-14 libclang-rt-14-dev libtiff-dev \
  libjpeg62-turbo-dev libgif-dev libpng-dev
FUZZ_CC ?= clang-14
FUZZ_CXX ?= clang++-14
FUZZ_SECONDS ?= 60
FUZZ_RUNS ?=
TSAN_ROUNDS ?= 10
FUZZ_HARNESSES = read append edit block awd xiff gif tga pcx dcx bmp jpeg storage session render

.PHONY: all deps build build-asan build-tsan tsan test demo clean fuzz-deps build-fuzz fuzz fuzz-check fuzz-corpus fuzz-seeds install bench

all: build

deps:
	@bash tools/install_deps.sh $(DEB_PACKAGES)

build/build.ninja:
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DQVTAV_WERROR=$(WERROR) \
	  -DQVTAV_REQUIRE_ORACLES=$(REQUIRE_ORACLES)

build: build/build.ninja
	cmake --build build -j $(JOBS)

build-asan/build.ninja:
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQVTAV_SANITIZE=ON \
	  -DQVTAV_WERROR=$(WERROR) -DQVTAV_REQUIRE_ORACLES=$(REQUIRE_ORACLES) -DQVTAV_BENCH=OFF

build-asan: build-asan/build.ninja
	cmake --build build-asan -j $(JOBS)

test: deps
	$(MAKE) build
	cd build && ctest --output-on-failure -j $(JOBS)
	$(MAKE) build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

build-tsan/build.ninja:
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVTAV_TSAN=ON \
	  -DQVTAV_WERROR=$(WERROR) -DQVTAV_BENCH=OFF

build-tsan: build-tsan/build.ninja
	cmake --build build-tsan -j $(JOBS)

tsan: deps
	$(MAKE) build-tsan
	TSAN_OPTIONS="second_deadlock_stack=1 exitcode=66" build-tsan/out/threads_stress 8 $(TSAN_ROUNDS)
	TSAN_OPTIONS="second_deadlock_stack=1 exitcode=66" build-tsan/out/remote_server_tsan

demo: deps
	$(MAKE) build
	bash tools/demo.sh build/out

fuzz-deps:
	@bash tools/install_deps.sh $(FUZZ_PACKAGES)

build-fuzz/build.ninja:
	CC=$(FUZZ_CC) CXX=$(FUZZ_CXX) cmake -S . -B build-fuzz -G Ninja \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVTAV_FUZZ=ON -DQVTAV_WERROR=$(WERROR)

build-fuzz: build-fuzz/build.ninja
	cmake --build build-fuzz -j $(JOBS)

# Each harness grows its own corpus in build-fuzz/corpus/ from its seeds
# (fuzz/seeds/ for the TIFF and block file harnesses, fuzz/format_seeds/ for
# the single-image formats, fuzz/storage_seeds/ for compound files,
# fuzz/session_seeds/ for the update sessions, whose bytes choose a file and
# the calls, fuzz/render_seeds/ and fuzz/format_seeds/ for the renderer) and
# the findings kept in fuzz/regress/; an input that crashes,
# leaks, hangs (10 s) or allocates absurdly is kept in build-fuzz/artifacts/
# and fails the target (fuzz/run.sh runs one harness).
fuzz: fuzz-deps
	$(MAKE) build-fuzz
	@for h in $(FUZZ_HARNESSES); do \
	  if [ -n "$(FUZZ_RUNS)" ]; then bash fuzz/run.sh $$h runs $(FUZZ_RUNS) || exit 1; \
	  else bash fuzz/run.sh $$h seconds $(FUZZ_SECONDS) || exit 1; fi; \
	done

# Every seed and every kept finding through its harness once: the same
# inputs on every run, what CI runs.
fuzz-check: fuzz-deps
	$(MAKE) build-fuzz
	@for h in $(FUZZ_HARNESSES); do bash fuzz/run.sh $$h replay || exit 1; done

# Merges the inputs the runs grew (build-fuzz/corpus/, build-fuzz/fixed-corpus/)
# into the kept corpus fuzz/corpus/, keeping only inputs that add coverage.
fuzz-corpus: build-fuzz
	@for h in $(FUZZ_HARNESSES); do mkdir -p fuzz/corpus/$$h; \
	  build-fuzz/out/$${h}_fuzzer -merge=1 -timeout=10 -malloc_limit_mb=512 fuzz/corpus/$$h \
	    $$(ls -d build-fuzz/corpus/$$h build-fuzz/fixed-corpus/$$h 2>/dev/null) 2>build-fuzz/$$h-merge.log || \
	    { tail -n 20 build-fuzz/$$h-merge.log; exit 1; }; \
	  echo "$$h: $$(ls fuzz/corpus/$$h | wc -l) inputs"; done

# Writes the seed corpus afresh (the seeds are committed).
fuzz-seeds: fuzz-deps
	$(MAKE) build-fuzz
	mkdir -p fuzz/seeds && rm -f fuzz/seeds/*
	build-fuzz/out/make_seeds fuzz/seeds

install: build
	DESTDIR="$(DESTDIR)" cmake --install build --prefix "$(PREFIX)"

bench: deps
	$(MAKE) build
	/usr/bin/python3 tools/bench_table.py build/out

clean:
	rm -rf build build-asan build-tsan build-fuzz
