// Pool tags of what the port class driver allocates, as they appear in leak reports.
#pragma once

#include <wdm.h>

namespace host {

constexpr ULONG kPortTag = 'tPcP';         // "PcPt": ports
constexpr ULONG kFilterTag = 'lFcP';       // "PcFl": filter instances
constexpr ULONG kPinTag = 'nPcP';          // "PcPn": pin instances
constexpr ULONG kServiceGroupTag = 'gScP'; // "PcSg": service groups
constexpr ULONG kDmaChannelTag = 'mDcP';   // "PcDm": DMA channels and their buffers
constexpr ULONG kResourceListTag = 'lRcP'; // "PcRl": resource lists

} // namespace host
