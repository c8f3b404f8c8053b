#include "resource_list.h"

#include "pool_tags.h"

#include <stdunk.h>

#include <cstring>
#include <vector>

namespace host {

namespace {

class CResourceList : public IResourceList, public CUnknown {
public:
    DECLARE_STD_UNKNOWN();
    DEFINE_STD_CONSTRUCTOR(CResourceList);
    IMP_IResourceList;

    void Copy(PCM_RESOURCE_LIST translated, PCM_RESOURCE_LIST untranslated);

private:
    // The entries of the first full descriptor, the only one a function device receives.
    static std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> Entries(PCM_RESOURCE_LIST list);
    PCM_PARTIAL_RESOURCE_DESCRIPTOR Find(std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> &entries,
                                         CM_RESOURCE_TYPE type, ULONG index);
    // A CM_RESOURCE_LIST of the entries (one full descriptor), built in storage.
    static PCM_RESOURCE_LIST Build(const std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> &entries,
                                   std::vector<UCHAR> *storage);

    std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> translated_;
    std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> untranslated_;
    std::vector<UCHAR> translatedList_;
    std::vector<UCHAR> untranslatedList_;
};

STDMETHODIMP_(NTSTATUS) CResourceList::NonDelegatingQueryInterface(REFIID iid, PVOID *object)
{
    if (IsEqualGUIDAligned(iid, IID_IResourceList)) {
        *object = PVOID(PRESOURCELIST(this));
        PUNKNOWN(*object)->AddRef();
        return STATUS_SUCCESS;
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> CResourceList::Entries(PCM_RESOURCE_LIST list)
{
    if (list == nullptr || list->Count == 0)
        return {};
    const CM_PARTIAL_RESOURCE_LIST &partial = list->List[0].PartialResourceList;
    return std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR>(partial.PartialDescriptors,
                                                       partial.PartialDescriptors + partial.Count);
}

void CResourceList::Copy(PCM_RESOURCE_LIST translated, PCM_RESOURCE_LIST untranslated)
{
    translated_ = Entries(translated);
    untranslated_ = Entries(untranslated);
}

PCM_PARTIAL_RESOURCE_DESCRIPTOR
CResourceList::Find(std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> &entries, CM_RESOURCE_TYPE type,
                    ULONG index)
{
    for (CM_PARTIAL_RESOURCE_DESCRIPTOR &entry : entries)
        if (entry.Type == type && index-- == 0)
            return &entry;
    return nullptr;
}

STDMETHODIMP_(ULONG) CResourceList::NumberOfEntries() { return ULONG(translated_.size()); }

STDMETHODIMP_(ULONG) CResourceList::NumberOfEntriesOfType(CM_RESOURCE_TYPE Type)
{
    ULONG count = 0;
    for (const CM_PARTIAL_RESOURCE_DESCRIPTOR &entry : translated_)
        count += entry.Type == Type;
    return count;
}

STDMETHODIMP_(PCM_PARTIAL_RESOURCE_DESCRIPTOR)
CResourceList::FindTranslatedEntry(CM_RESOURCE_TYPE Type, ULONG Index)
{
    return Find(translated_, Type, Index);
}

STDMETHODIMP_(PCM_PARTIAL_RESOURCE_DESCRIPTOR)
CResourceList::FindUntranslatedEntry(CM_RESOURCE_TYPE Type, ULONG Index)
{
    return Find(untranslated_, Type, Index);
}

STDMETHODIMP_(NTSTATUS)
CResourceList::AddEntry(PCM_PARTIAL_RESOURCE_DESCRIPTOR Translated,
                        PCM_PARTIAL_RESOURCE_DESCRIPTOR Untranslated)
{
    if (Translated == nullptr || Untranslated == nullptr)
        return STATUS_INVALID_PARAMETER;
    translated_.push_back(*Translated);
    untranslated_.push_back(*Untranslated);
    return STATUS_SUCCESS;
}

STDMETHODIMP_(NTSTATUS)
CResourceList::AddEntryFromParent(IResourceList *Parent, CM_RESOURCE_TYPE Type, ULONG Index)
{
    if (Parent == nullptr)
        return STATUS_INVALID_PARAMETER;
    PCM_PARTIAL_RESOURCE_DESCRIPTOR translated = Parent->FindTranslatedEntry(Type, Index);
    PCM_PARTIAL_RESOURCE_DESCRIPTOR untranslated = Parent->FindUntranslatedEntry(Type, Index);
    if (translated == nullptr || untranslated == nullptr)
        return STATUS_INVALID_PARAMETER;
    return AddEntry(translated, untranslated);
}

PCM_RESOURCE_LIST CResourceList::Build(const std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> &entries,
                                       std::vector<UCHAR> *storage)
{
    if (entries.empty())
        return nullptr; // as for a device that was given no resources
    storage->assign(sizeof(CM_RESOURCE_LIST) +
                        (entries.size() - 1) * sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR),
                    0);
    auto list = reinterpret_cast<PCM_RESOURCE_LIST>(storage->data());
    list->Count = 1;
    list->List[0].InterfaceType = Internal;
    list->List[0].PartialResourceList.Version = 1;
    list->List[0].PartialResourceList.Revision = 1;
    list->List[0].PartialResourceList.Count = ULONG(entries.size());
    std::memcpy(static_cast<void *>(list->List[0].PartialResourceList.PartialDescriptors),
                entries.data(), entries.size() * sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR));
    return list;
}

STDMETHODIMP_(PCM_RESOURCE_LIST) CResourceList::TranslatedList()
{
    return Build(translated_, &translatedList_);
}

STDMETHODIMP_(PCM_RESOURCE_LIST) CResourceList::UntranslatedList()
{
    return Build(untranslated_, &untranslatedList_);
}

} // namespace

NTSTATUS NewResourceList(PRESOURCELIST *list, PCM_RESOURCE_LIST translated,
                         PCM_RESOURCE_LIST untranslated)
{
    *list = nullptr;
    auto object = new (NonPagedPoolNx, kResourceListTag) CResourceList(nullptr);
    if (object == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    object->Copy(translated, untranslated);
    *list = object;
    object->AddRef();
    return STATUS_SUCCESS;
}

} // namespace host
