// Motion-sensor frames: burst scan, length and CRC checks.
#ifndef SENSOR_SENSOR_H
#define SENSOR_SENSOR_H

#include <stdint.h>

void procesamos_trama_rx_sensor();

#endif
