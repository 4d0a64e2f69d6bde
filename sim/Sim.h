#pragma once

// Everything of the simulated speaker in one include: the scenario, the speaker model and
// the backend that the transport runs on.
#include "Eeprom24C.h"
#include "Scenario.h"
#include "SimBackend.h"
#include "SimSpeaker.h"
