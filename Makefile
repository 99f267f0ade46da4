# The two commands of the README, and the rest of the day-to-day work.
#   make demo      installs what is missing, builds, grows the demo tree into out/
#   make test      installs what is missing, builds, runs every test through CTest

BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_SECONDS ?= 30
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
ifeq ($(CI),true)
CMAKE_FLAGS += -DRAMULON_WERROR=ON
endif

.PHONY: all deps build web demo test sanitize fuzz bench install clean

all: build

deps:
	@./tools/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

web:
	./tools/install-web-deps.sh

demo: build
	./tools/demo.sh $(BUILD)

test: build web
	./tools/gltf-validate/install.sh
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

sanitize: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DRAMULON_SANITIZE=ON -DRAMULON_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS) -LE e2e

# libFuzzer over every input people hand the tool; FUZZ_SECONDS per target (tools/fuzz.sh).
fuzz:
	CMAKE_FLAGS="$(CMAKE_FLAGS)" ./tools/fuzz.sh $(FUZZ_SECONDS)

bench: build
	./$(BUILD)/bench/ramulon_bench

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-fuzz out web/dist
