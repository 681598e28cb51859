// Shared set-up of the end-to-end tests: the module is registered with
// regsvr32 for each test suite and unregistered after it; each test gets
// its own settings key.
#pragma once

#include <gtest/gtest.h>

#include <dshow.h>
#include <wrl/client.h>

#include <memory>

#include "settings/capture_device_ids.h"
#include "settings/capture_device_settings.h"
#include "framework/media_type.h"
#include "tests/support/capture_graph.h"
#include "tests/support/registry_sandbox.h"
#include "tests/support/stored_settings.h"

namespace qmtest {

class DeviceTest : public testing::Test {
public:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

    // Creates the device the way capture applications do: from its moniker
    // in the video input device category.
    HRESULT CreateFromMoniker(IBaseFilter** filter);

protected:
    void SetUp() override;
    void TearDown() override;

    static std::unique_ptr<RegisteredModule> s_module;
    std::unique_ptr<RegistrySandbox> m_settings;
};

// The picture size in a VIDEOINFOHEADER media type.
inline SIZE FrameSizeOf(const AM_MEDIA_TYPE& mt) {
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    return {vih->bmiHeader.biWidth, vih->bmiHeader.biHeight};
}

}  // namespace qmtest
