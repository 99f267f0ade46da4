# The two commands of the README, and the rest of the day-to-day work.
#   make demo      installs what is missing, builds the command line, its modules and the page,
#                  grows the demo tree into out/
#   make test      installs what is missing (Blender too), builds, runs every test through CTest

BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_SECONDS ?= 30
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
ifeq ($(CI),true)
CMAKE_FLAGS += -DRAMULON_WERROR=ON
endif

.PHONY: all deps configure build web page demo blender test sanitize exactness fuzz bench install clean gallery

all: build

deps:
	@./tools/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

# The page and what its end-to-end tests drive (Chromium).
web:
	./tools/install-web-deps.sh

# The page alone, for `ramulon serve`.
page:
	./tools/install-web-deps.sh --page-only

# Only what the demo and `ramulon serve` need: the command line, the three modules, the page.
demo: configure page
	cmake --build $(BUILD) -j$(JOBS) --target ramulon
	./tools/demo.sh $(BUILD)

# The Blender add-on as one zip under out/ (Edit > Preferences > Add-ons > Install...).
blender: configure
	cmake --build $(BUILD) -j$(JOBS) --target blender_addon
	mkdir -p out
	cp $(BUILD)/ramulon_blender-*.zip out/
	@ls out/ramulon_blender-*.zip

test: build web
	./tools/gltf-validate/install.sh
	./tools/install-deps.sh blender python3-numpy python3-pytest python3-distributed xvfb xauth
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

sanitize: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DRAMULON_SANITIZE=ON -DRAMULON_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS) -LE 'e2e|blender'

# The journal digests in the builds `make test` and `make sanitize` do not make: GCC at -O3
# (Release) and clang at -O3. Only what the digest tests need is built; their mismatches are
# explained by the unoptimised reference of the main build.
exactness: configure
	./tools/install-deps.sh clang
	cmake --build $(BUILD) -j$(JOBS) --target journal_reference
	cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DRAMULON_BENCH=OFF \
		-DRAMULON_REFERENCE_PROGRAM=$(CURDIR)/$(BUILD)/reference/journal_reference $(CMAKE_FLAGS)
	cmake --build build-release -j$(JOBS) --target test_journal_digests
	ctest --test-dir build-release -L exactness --output-on-failure -j$(JOBS)
	cmake -S . -B build-clang -DCMAKE_BUILD_TYPE=Release -DRAMULON_BENCH=OFF \
		-DRAMULON_REFERENCE_PROGRAM=$(CURDIR)/$(BUILD)/reference/journal_reference \
		-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ $(CMAKE_FLAGS)
	cmake --build build-clang -j$(JOBS) --target test_journal_digests
	ctest --test-dir build-clang -L exactness --output-on-failure -j$(JOBS)

# libFuzzer over every input people hand the tool; FUZZ_SECONDS per target (tools/fuzz.sh).
fuzz:
	CMAKE_FLAGS="$(CMAKE_FLAGS)" ./tools/fuzz.sh $(FUZZ_SECONDS)

# Whole builds of the command line (CPU, peak memory; beside BASELINE=path/to/other/ramulon when
# given) and the peer JavaScript generator in triangles per millisecond, then the micro benches.
bench: build
	python3 bench/whole_process.py --ramulon $(BUILD)/ramulon $(if $(BASELINE),--baseline $(BASELINE))
	python3 bench/batch_throughput.py --ramulon $(BUILD)/ramulon
	python3 bench/page_server.py --ramulon $(BUILD)/ramulon $(if $(BASELINE),--baseline $(BASELINE))
	./$(BUILD)/bench/ramulon_bench

# The README's gallery (docs/gallery.png): every shipped preset grown in its crown and rendered
# in Blender from its GLB.
gallery: build
	./tools/install-deps.sh blender python3-numpy
	./tools/gallery.sh $(BUILD)

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-release build-clang build-fuzz out web/dist
