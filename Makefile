# The two everyday commands:
#   make demo   installs what is missing, builds, and runs the demo on sample files
#   make test   installs what is missing, builds (normal and sanitizer builds), runs every test

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
WERROR ?= $(if $(CI),ON,OFF)
BUILD_TYPE ?= RelWithDebInfo

# Debian packages the build, the tests and the demo need.
DEB_PACKAGES = build-essential cmake ninja-build g++-multilib libgtest-dev libgmock-dev \
  libbenchmark-dev libtiff-dev libtiff-tools python3 python3-pil imagemagick netpbm \
  libjpeg-turbo-progs python3-olefile libgsf-bin libolecf-utils file

.PHONY: all deps build build-asan test demo clean

all: build

deps:
	@bash tools/install_deps.sh $(DEB_PACKAGES)

build/build.ninja:
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DQVTAV_WERROR=$(WERROR)

build: build/build.ninja
	cmake --build build -j $(JOBS)

build-asan/build.ninja:
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQVTAV_SANITIZE=ON \
	  -DQVTAV_WERROR=$(WERROR) -DQVTAV_BENCH=OFF

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

clean:
	rm -rf build build-asan
