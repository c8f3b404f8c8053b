#include "function/usb_audio_filter_chain.h"

void UsbAudioFilterChain::Initialize()
{
    Head = nullptr;
    Tail = nullptr;
    Count = 0;
}

void UsbAudioFilterChain::InsertHead(UsbAudioFilterElement *Element)
{
    Link(nullptr, Element, Head);
}

void UsbAudioFilterChain::InsertTail(UsbAudioFilterElement *Element)
{
    Link(Tail, Element, nullptr);
}

void UsbAudioFilterChain::InsertAfter(UsbAudioFilterElement *Position,
                                      UsbAudioFilterElement *Element)
{
    Link(Position, Element, Position->Next);
}

void UsbAudioFilterChain::InsertBefore(UsbAudioFilterElement *Position,
                                       UsbAudioFilterElement *Element)
{
    Link(Position->Previous, Element, Position);
}

BOOLEAN UsbAudioFilterChain::Contains(const UsbAudioFilterElement *Element) const
{
    for (const UsbAudioFilterElement *element = Head; element != nullptr; element = element->Next)
        if (element == Element)
            return TRUE;
    return FALSE;
}

void UsbAudioFilterChain::Link(UsbAudioFilterElement *Previous, UsbAudioFilterElement *Element,
                               UsbAudioFilterElement *Next)
{
    Element->Previous = Previous;
    Element->Next = Next;
    if (Previous != nullptr)
        Previous->Next = Element;
    else
        Head = Element;
    if (Next != nullptr)
        Next->Previous = Element;
    else
        Tail = Element;
    ++Count;
}
