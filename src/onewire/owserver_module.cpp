// SPDX-License-Identifier: GPL-2.0-or-later
// The owserver module: libownet's calls, found by name after loading
// (onewire/ownet_calls.h). The tests link it in directly.
#include "onewire/ownet_calls.h"

extern "C" __attribute__((visibility("default"))) const wx::OwnetCalls wx118_ownet_calls{
    .init = &::OWNET_init,
    .close = &::OWNET_close,
    .put = &::OWNET_put,
    .present = &::OWNET_present,
    .dirlist = &::OWNET_dirlist,
    .read = &::OWNET_read,
};
