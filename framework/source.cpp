#include "framework/source.h"

#include <climits>
#include <cstddef>
#include <new>

#include "framework/source_stream.h"

CSource::CSource(LPCWSTR objectName, IUnknown* outer, CLSID clsid)
    : CBaseFilter(objectName, outer, &m_cStateLock, &clsid) {}

CSource::~CSource() {
    // Every worker ends before any pin is destroyed: a worker runs the
    // most-derived pin's code, which must still be whole. Stop (on the
    // final release) normally ended them already; this covers a Stop that
    // failed and a pin activated outside the filter's state changes.
    for (int i = 0;; ++i) {
        CSourceStream* pin = GetStream(i);
        if (pin == nullptr) {
            break;
        }
        pin->EndWorker();
    }
    // Each pin's destructor takes itself out of the table.
    for (;;) {
        CSourceStream* last = nullptr;
        {
            CAutoLock lock(&m_PinTableLock);
            if (m_iPins == 0) {
                break;
            }
            last = m_paStreams[m_iPins - 1];
        }
        delete last;
    }
}

int CSource::GetPinCount() {
    CAutoLock tableLock(&m_PinTableLock);
    return m_iPins;
}

CBasePin* CSource::GetPin(int n) {
    return GetStream(n);
}

CSourceStream* CSource::GetStream(int n) {
    CAutoLock tableLock(&m_PinTableLock);
    return n >= 0 && n < m_iPins ? m_paStreams[n] : nullptr;
}

HRESULT CSource::AddPin(CSourceStream* pin) {
    RETURN_HR_IF_NULL(E_POINTER, pin);
    CAutoLock stateLock(&m_cStateLock);
    CAutoLock tableLock(&m_PinTableLock);
    if (m_iPins == INT_MAX ||
        static_cast<size_t>(m_iPins) + 1 > static_cast<size_t>(PTRDIFF_MAX) / sizeof(CSourceStream*)) {
        return E_OUTOFMEMORY;
    }
    std::unique_ptr<CSourceStream*[]> grown(new (std::nothrow) CSourceStream*[m_iPins + 1]);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, grown);
    for (int i = 0; i < m_iPins; ++i) {
        grown[i] = m_paStreams[i];
    }
    grown[m_iPins] = pin;
    m_paStreams = std::move(grown);
    ++m_iPins;
    return S_OK;
}

HRESULT CSource::RemovePin(CSourceStream* pin) {
    CAutoLock tableLock(&m_PinTableLock);
    for (int i = 0; i < m_iPins; ++i) {
        if (m_paStreams[i] != pin) {
            continue;
        }
        if (m_iPins == 1) {
            m_paStreams.reset();
        } else {
            // The table keeps its size; only the count shrinks.
            for (int j = i + 1; j < m_iPins; ++j) {
                m_paStreams[j - 1] = m_paStreams[j];
            }
        }
        --m_iPins;
        return S_OK;
    }
    return S_FALSE;
}

int CSource::FindPinNumber(IPin* pin) {
    CAutoLock tableLock(&m_PinTableLock);
    for (int i = 0; i < m_iPins; ++i) {
        if (static_cast<IPin*>(m_paStreams[i]) == pin) {
            return i;
        }
    }
    return -1;
}
