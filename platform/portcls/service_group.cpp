#include "service_group.h"

#include "pool_tags.h"

#include "kernel/machine.h"

#include <stdunk.h>

#include <algorithm>
#include <vector>

namespace host {

namespace {

// The emulation's own interface of its service groups (not a Windows interface).
DEFINE_GUID(IID_HostServiceGroup, 0x5c0a3e71, 0x2b8d, 0x4f0e, 0x9a, 0x61, 0x7d, 0x3e, 0x21, 0x4c,
            0x90, 0x1b);

class CServiceGroup : public IServiceGroup, public CUnknown {
public:
    DECLARE_STD_UNKNOWN();
    explicit CServiceGroup(PUNKNOWN outer);
    ~CServiceGroup() override;
    IMP_IServiceGroup

        void
        QueueNotifyDpc();

private:
    static void RunDpc(PKDPC dpc, PVOID context, PVOID, PVOID);
    // Calls every member; at DISPATCH_LEVEL.
    void ServiceMembers();

    KSPIN_LOCK lock_;
    std::vector<PSERVICESINK> members_; // referenced
    KDPC notifyDpc_;
    KDPC timerDpc_;
    KTIMER timer_;
    bool delayedService_ = false;
};

CServiceGroup::CServiceGroup(PUNKNOWN outer) : CUnknown(outer)
{
    KeInitializeSpinLock(&lock_);
    KeInitializeDpc(&notifyDpc_, RunDpc, this);
    KeInitializeDpc(&timerDpc_, RunDpc, this);
    KeInitializeTimer(&timer_);
}

CServiceGroup::~CServiceGroup()
{
    for (PSERVICESINK member : members_)
        member->Release();
}

STDMETHODIMP_(NTSTATUS) CServiceGroup::NonDelegatingQueryInterface(REFIID iid, PVOID *object)
{
    if (IsEqualGUIDAligned(iid, IID_IServiceGroup) || IsEqualGUIDAligned(iid, IID_IServiceSink) ||
        IsEqualGUIDAligned(iid, IID_HostServiceGroup)) {
        *object = PVOID(PSERVICEGROUP(this));
        PUNKNOWN(*object)->AddRef();
        return STATUS_SUCCESS;
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

void CServiceGroup::ServiceMembers()
{
    std::vector<PSERVICESINK> members;
    KIRQL irql;
    KeAcquireSpinLock(&lock_, &irql);
    members = members_;
    for (PSERVICESINK member : members)
        member->AddRef(); // a member removed meanwhile finishes this call first
    KeReleaseSpinLock(&lock_, irql);
    for (PSERVICESINK member : members) {
        member->RequestService();
        member->Release();
    }
}

void CServiceGroup::RunDpc(PKDPC, PVOID context, PVOID, PVOID)
{
    auto group = static_cast<CServiceGroup *>(context);
    group->ServiceMembers();
    group->Release(); // the reference the queued DPC or the set timer held
}

void CServiceGroup::QueueNotifyDpc()
{
    AddRef();
    if (!KeInsertQueueDpc(&notifyDpc_, nullptr, nullptr))
        Release(); // already queued: one pass serves both requests
}

STDMETHODIMP_(void) CServiceGroup::RequestService()
{
    KIRQL irql;
    KeRaiseIrql(DISPATCH_LEVEL, &irql);
    ServiceMembers();
    KeLowerIrql(irql);
}

STDMETHODIMP_(NTSTATUS) CServiceGroup::AddMember(PSERVICESINK pServiceSink)
{
    if (pServiceSink == nullptr)
        return STATUS_INVALID_PARAMETER;
    pServiceSink->AddRef();
    KIRQL irql;
    KeAcquireSpinLock(&lock_, &irql);
    members_.push_back(pServiceSink);
    KeReleaseSpinLock(&lock_, irql);
    return STATUS_SUCCESS;
}

STDMETHODIMP_(void) CServiceGroup::RemoveMember(PSERVICESINK pServiceSink)
{
    KIRQL irql;
    KeAcquireSpinLock(&lock_, &irql);
    auto it = std::find(members_.begin(), members_.end(), pServiceSink);
    bool found = it != members_.end();
    if (found)
        members_.erase(it);
    KeReleaseSpinLock(&lock_, irql);
    if (found)
        pServiceSink->Release();
}

STDMETHODIMP_(void) CServiceGroup::SupportDelayedService() { delayedService_ = true; }

STDMETHODIMP_(void) CServiceGroup::RequestDelayedService(ULONGLONG ullDelay)
{
    if (!delayedService_) {
        CurrentThread("RequestDelayedService")
            ->machine->Checks()
            .Report(VerifierCheck::Usage,
                    "IServiceGroup::RequestDelayedService without SupportDelayedService");
        return;
    }
    LARGE_INTEGER due;
    due.QuadPart = LONGLONG(ullDelay);
    AddRef();
    if (KeSetTimer(&timer_, due, &timerDpc_))
        Release(); // it was set already: the new time replaces the old one
}

STDMETHODIMP_(void) CServiceGroup::CancelDelayedService()
{
    if (KeCancelTimer(&timer_))
        Release();
}

} // namespace

bool QueueServiceGroupDpc(PSERVICEGROUP group)
{
    PVOID ours = nullptr;
    if (group == nullptr || !NT_SUCCESS(group->QueryInterface(IID_HostServiceGroup, &ours))) {
        CurrentThread("IPortWaveCyclic::Notify")
            ->machine->Checks()
            .Report(VerifierCheck::Usage,
                    "IPortWaveCyclic::Notify with a service group PcNewServiceGroup did not make");
        return false;
    }
    auto serviceGroup = static_cast<CServiceGroup *>(static_cast<PSERVICEGROUP>(ours));
    serviceGroup->QueueNotifyDpc();
    serviceGroup->Release();
    return true;
}

} // namespace host

extern "C" NTSTATUS NTAPI PcNewServiceGroup(PSERVICEGROUP *OutServiceGroup, PUNKNOWN OuterUnknown)
{
    if (OutServiceGroup == nullptr)
        return STATUS_INVALID_PARAMETER;
    *OutServiceGroup = nullptr;
    auto group = new (NonPagedPoolNx, host::kServiceGroupTag) host::CServiceGroup(OuterUnknown);
    if (group == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    group->NonDelegatingAddRef();
    *OutServiceGroup = group;
    return STATUS_SUCCESS;
}
