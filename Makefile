# The two everyday commands:
#   make demo   installs what is missing, builds, and runs the demo on sample files
#   make test   installs what is missing, builds (normal and sanitizer builds), runs every test
# and for fuzzing:
#   make fuzz   builds the libFuzzer harnesses (clang, sanitizers) and runs each
#               for FUZZ_SECONDS; findings go to build-fuzz/artifacts/
#   make fuzz FUZZ_RUNS=N   the same, but each harness runs exactly N inputs
#               from a fixed seed on the committed seeds only: the same commit
#               always runs the same inputs (what CI runs)
# and:
#   make install [PREFIX=/usr/local] [DESTDIR=...]   the library, tool, headers, pkg-config
#               file, CMake package, man pages and Python module
#   make bench  every benchmark beside its peer, then a table of the ratios

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
  man-db groff-base pkg-config openssh-server openssh-client libssh-dev
# ... and those of the fuzz build (libFuzzer comes with clang's runtime).
FUZZ_PACKAGES = build-essential cmake ninja-build clang-14 libclang-rt-14-dev
FUZZ_CC ?= clang-14
FUZZ_CXX ?= clang++-14
FUZZ_SECONDS ?= 60
FUZZ_RUNS ?=
FUZZ_HARNESSES = read append edit block awd xiff gif tga pcx dcx bmp jpeg storage session

.PHONY: all deps build build-asan test demo clean fuzz-deps build-fuzz fuzz fuzz-seeds install bench

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
# the calls); an input that crashes, leaks, hangs (10 s) or allocates
# absurdly is kept in build-fuzz/artifacts/ and fails the target.
fuzz: fuzz-deps
	$(MAKE) build-fuzz
	@for h in $(FUZZ_HARNESSES); do \
	  if [ -n "$(FUZZ_RUNS)" ]; then \
	    corpus=build-fuzz/fixed-corpus/$$h; rm -rf $$corpus; \
	    limit="-seed=1 -runs=$(FUZZ_RUNS)"; echo "fuzzing: $$h, $(FUZZ_RUNS) inputs from seed 1"; \
	  else \
	    corpus=build-fuzz/corpus/$$h; \
	    limit="-max_total_time=$(FUZZ_SECONDS)"; echo "fuzzing: $$h for $(FUZZ_SECONDS) s"; \
	  fi; \
	  case $$h in \
	    gif|tga|pcx|bmp|jpeg) seeds="-dict=fuzz/formats.dict $$corpus fuzz/format_seeds/$$h";; \
	    dcx) seeds="-dict=fuzz/formats.dict $$corpus fuzz/format_seeds/pcx";; \
	    storage) seeds="$$corpus fuzz/storage_seeds";; \
	    session) seeds="$$corpus fuzz/session_seeds";; \
	    *) seeds="-dict=fuzz/tiff.dict $$corpus fuzz/seeds";; \
	  esac; \
	  mkdir -p $$corpus build-fuzz/artifacts || exit 1; \
	  build-fuzz/out/$${h}_fuzzer $$limit -timeout=10 -malloc_limit_mb=512 \
	    -artifact_prefix=build-fuzz/artifacts/$$h- -print_final_stats=1 \
	    $$seeds 2>build-fuzz/$$h.log || \
	    { tail -n 60 build-fuzz/$$h.log; exit 1; }; \
	  grep -h -e "^stat::number_of_executed_units" -e "^#.*DONE" build-fuzz/$$h.log; \
	done

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
	rm -rf build build-asan build-fuzz
