# Every target installs what is missing first, so the README's commands work
# on a fresh machine.
BUILD ?= build
BUILD_ASAN ?= build-asan
JOBS ?= $(shell nproc)
PAQUETES = cmake g++ clang libclang-rt-14-dev make pkg-config valgrind libgtest-dev libgmock-dev googletest libcli11-dev nlohmann-json3-dev \
           libfftw3-dev dosfstools mtools python3-serial gcc-arm-none-eabi libstdc++-arm-none-eabi-newlib \
           libnewlib-arm-none-eabi binutils-arm-none-eabi bossa-cli python3 python3-numpy python3-unicorn \
           python3-matplotlib python3-netcdf4 python3-scipy netcdf-bin \
           libunicorn-dev

.PHONY: all deps build run test asan arm firmware flash bench fuzz soak clean

all: build

deps:
	@falta=""; for p in $(PAQUETES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || falta="$$falta $$p"; \
	done; \
	if [ -n "$$falta" ]; then \
	  echo "Installing:$$falta"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$falta; \
	fi

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# The buoy on the built-in default scenario, its debug console echoed here.
run: build
	./$(BUILD)/olas-sim --out out --duration 30m --echo-console --tov-script simulador/escenarios/defecto.tov
	@echo; echo "== what the buoy sent on the telemetry link (out/telemetry.txt), decoded =="
	@/usr/bin/python3 herramientas/tov03 decode out/telemetry.txt
	@echo; /usr/bin/python3 herramientas/resumen_ejecucion.py out

test: build firmware
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole-image runs on the emulated chip (the scenario tests' samd21
# parameter and the same-records comparison) are left out here: the emulator
# under the sanitizers is too slow for them; its own tests stay in.
asan: deps
	cmake -S . -B $(BUILD_ASAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOLAS_SANITIZERS=ON
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	cd $(BUILD_ASAN) && ctest --output-on-failure -j $(JOBS) -E '/samd21|MismosRegistros'

# Every firmware module compiles for the Cortex-M0+ without any host header.
arm: deps
	./herramientas/comprobar_arm.sh

# The image for the ATSAMD21J18A: build-samd21/olas.elf, olas.bin, olas.hex.
BUILD_SAMD21 ?= build-samd21
firmware: deps
	cmake -S plataforma/samd21 -B $(BUILD_SAMD21) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/plataforma/samd21/arm-none-eabi.cmake
	cmake --build $(BUILD_SAMD21) -j $(JOBS)
	/usr/bin/python3 herramientas/imagen_firmware.py --build $(BUILD_SAMD21)

# Programs a board through its bootloader (SAM-BA) at the application's
# offset. Untested here: no board is attached to this machine. bossac's erase
# clears the flash from the offset to its end, the stored parameters included.
PORT ?= /dev/ttyACM0
flash: firmware
	bossac --port=$(PORT) -U -i -e -w -v -R --offset=0x2000 $(BUILD_SAMD21)/olas.bin

# Each libFuzzer harness for FUZZ_SECONDS, seeded from its folder's corpus.
FUZZ_SECONDS ?= 60
BUILD_FUZZ ?= build-fuzz
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(BUILD_FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOLAS_FUZZ=ON
	cmake --build $(BUILD_FUZZ) -j $(JOBS) --target arneses
	./herramientas/fuzz.sh $(BUILD_FUZZ) $(FUZZ_SECONDS)

# A month at sea with faults; SOAK_DAYS shortens it (fractions of a day too).
# BOARD=samd21 runs the flashable image on the emulated chip instead.
SOAK_DAYS ?= 30
BOARD ?= host
SOAK_IMAGEN = $(if $(filter samd21,$(BOARD)),firmware)
soak: build $(SOAK_IMAGEN)
	/usr/bin/python3 herramientas/soak.py --days $(SOAK_DAYS) --sim $(BUILD)/olas-sim --board $(BOARD) \
	  --firmware $(BUILD_SAMD21)/olas.elf

# Simulation speed, instructions per sensor epoch, and size on the target.
bench: build firmware
	/usr/bin/python3 herramientas/bench.py --sim $(BUILD)/olas-sim --image $(BUILD_SAMD21)/size.json

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_FUZZ) $(BUILD_SAMD21) out
