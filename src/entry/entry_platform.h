// What the extension's entry asks of each build (platform/<os>/host_services.cpp): the beep
// of a failed construction and the catalogue in the build's resources.
#pragma once
#include <cstdint>

namespace platform {

// Sounds the short beep of a failed construction.
void AllocationBeep();

// Catalogue entry n (1-based) as a length-prefixed string; empty when there is none.
void GetCatalogueEntry(int16_t n, unsigned char out[256]);

}  // namespace platform
