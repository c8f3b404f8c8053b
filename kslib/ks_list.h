// A growable list whose growth can fail: Append reports an allocation failure instead of throwing,
// so that the list's owner can return E_OUTOFMEMORY and keep what the list already holds.
#pragma once

#include "quen_kslib_platform.h"

#include <new>

template <class T>
class CKsList {
public:
    CKsList() = default;
    ~CKsList() { delete[] m_items; }
    CKsList(const CKsList &) = delete;
    CKsList &operator=(const CKsList &) = delete;

    // Makes room for `capacity` items; false if there is no memory for it.
    bool Reserve(ULONG capacity)
    {
        if (capacity <= m_capacity)
            return true;
        T *items = new (std::nothrow) T[capacity];
        if (items == nullptr)
            return false;
        for (ULONG i = 0; i < m_count; ++i)
            items[i] = m_items[i];
        delete[] m_items;
        m_items = items;
        m_capacity = capacity;
        return true;
    }

    bool Append(const T &item)
    {
        if (m_count == m_capacity && !Reserve(m_capacity == 0 ? 4 : m_capacity * 2))
            return false;
        m_items[m_count++] = item;
        return true;
    }

    // Removes the item at `index`, keeping the order of the others.
    void RemoveAt(ULONG index)
    {
        for (ULONG i = index; i + 1 < m_count; ++i)
            m_items[i] = m_items[i + 1];
        --m_count;
    }

    void Clear() { m_count = 0; }
    ULONG Count() const { return m_count; }
    T &operator[](ULONG index) { return m_items[index]; }
    const T &operator[](ULONG index) const { return m_items[index]; }
    T *begin() { return m_items; }
    T *end() { return m_items + m_count; }
    const T *begin() const { return m_items; }
    const T *end() const { return m_items + m_count; }

private:
    T *m_items = nullptr;
    ULONG m_count = 0;
    ULONG m_capacity = 0;
};
