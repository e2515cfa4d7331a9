#pragma once

// What a program that carries the identity store compiled in (it links
// qvf_static, as qv_setmac does) may use besides the C interface of qvf.h.
// libqvf.so does not export these. Failures are reported as by the qvf_
// functions.

#include <cstdint>

namespace qvf {

// Copies the six address bytes of the MAC field to address.
int mac_address_get(uint8_t address[6]);
// Stores the six address bytes; the field's two spare bytes keep what the
// record holds, read under the same lock as the rewrite.
int mac_address_set(const uint8_t address[6]);

} // namespace qvf
