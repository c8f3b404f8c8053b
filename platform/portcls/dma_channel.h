// The DMA channels a WaveCyclic port makes for its miniport (NewMasterDmaChannel): a common
// buffer of at most the channel's maximum length in non-paged pool. A USB device has no DMA
// adapter, so the channel has none either; the buffer's physical address is its system address.
#pragma once

#include <portcls.h>

namespace host {

NTSTATUS NewMasterDmaChannel(PDMACHANNEL *channel, PUNKNOWN outer, ULONG maximumLength);

} // namespace host
