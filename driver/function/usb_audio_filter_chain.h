// A signal chain of the filter description under construction: pins and nodes doubly linked in
// signal order through their UsbAudioFilterElement fields. An element joins at most one chain,
// once.
#pragma once

#include "function/usb_audio_filter.h"

struct UsbAudioFilterChain {
    UsbAudioFilterElement *Head;
    UsbAudioFilterElement *Tail;
    ULONG Count;

    void Initialize();
    void InsertHead(UsbAudioFilterElement *Element);
    void InsertTail(UsbAudioFilterElement *Element);
    // Position is an element of this chain.
    void InsertAfter(UsbAudioFilterElement *Position, UsbAudioFilterElement *Element);
    void InsertBefore(UsbAudioFilterElement *Position, UsbAudioFilterElement *Element);
    BOOLEAN Contains(const UsbAudioFilterElement *Element) const;

private:
    void Link(UsbAudioFilterElement *Previous, UsbAudioFilterElement *Element,
              UsbAudioFilterElement *Next);
};
