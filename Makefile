# Top-level entry points. `make test` alone sets up a fresh Debian 12 machine:
# it installs the missing packages (as root), configures, builds and runs CTest.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
FUZZ_SECONDS ?= 30

# Debian packages the build, the tests, the fuzzers and the benchmarks need.
# Later work adds to this list; keep it one package per word.
DEB_PACKAGES := g++ make cmake pkg-config python3 \
	libsqlite3-dev libssl-dev libgtest-dev libgmock-dev libbenchmark-dev \
	clang libclang-rt-dev \
	libsystemd-dev dbus-daemon python3-dbusmock \
	libwbxml2-dev libwbxml2-utils \
	libexpat1-dev libpugixml-dev libxml2-dev \
	nginx lighttpd squid libcurl4-openssl-dev libcrypt-dev \
	openssl curl

.PHONY: all deps build test demo build-sanitize test-sanitize build-tsan test-tsan fuzz clean

all: build

deps:
	@missing=""; \
	for p in $(DEB_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "installing:$$missing"; \
	    DEBIAN_FRONTEND=noninteractive apt-get update -q && \
	    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends$$missing; \
	  else \
	    echo "missing Debian packages; run as root:"; \
	    echo "  apt-get update && apt-get install -y --no-install-recommends$$missing"; \
	    exit 1; \
	  fi; \
	fi

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

test: build
	ctest --preset default -j $(JOBS)

# The end-to-end demo: a simulated handset provisioned three ways against the reference server.
demo: build
	python3 demo/vyra-demo --build build

build-sanitize: deps
	cmake --preset sanitize
	cmake --build --preset sanitize -j $(JOBS)

test-sanitize: build-sanitize
	ctest --preset sanitize -j $(JOBS)

build-tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)

test-tsan: build-tsan
	ctest --preset tsan -j $(JOBS)

fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	@found=0; \
	for t in build-fuzz/bin/fuzz_*; do \
	  [ -x "$$t" ] || continue; found=1; \
	  name=$$(basename $$t); corpus=build-fuzz/corpus/$$name; mkdir -p $$corpus; \
	  seeds=fuzz/seeds/$${name#fuzz_}; [ -d $$seeds ] || seeds=""; \
	  echo "== $$name ($(FUZZ_SECONDS) s)"; \
	  $$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 \
	      -artifact_prefix=build-fuzz/$$name- $$corpus $$seeds || exit 1; \
	done; \
	[ $$found = 1 ] || echo "no fuzz targets yet"

clean:
	rm -rf build build-sanitize build-tsan build-fuzz
