#pragma once

// The record on a path a user names, as qv_info takes it: an MTD device as
// qvf_static.hpp says, or, outside /dev, a regular file holding a partition
// image, for records made offline (the archive qvf_image; libqvf.so and
// qv_setmac carry none of it). Everything past an image's record reads as
// erased flash (0xFF). A store never changes an image in place: it writes a
// new file beside it and renames it over the image, which keeps its owner,
// group and mode (less the set-id bits); a missing image is made. Readers and
// stores of one image lock that image, so stores into different images of one
// folder do not wait for each other.

#include "qvf_static.hpp"

namespace qvf {

// As fields_read and fields_store, on the partition or an image.
int any_fields_read(Partition partition, Fields &fields);
StoreResult any_fields_store(Partition partition, const Fields &fields, unsigned which);

} // namespace qvf
