#include "tests/device/device_test_support.h"

#include "framework/com_util.h"

using Microsoft::WRL::ComPtr;

namespace qmtest {

std::unique_ptr<RegisteredModule> DeviceTest::s_module;

void DeviceTest::SetUpTestSuite() {
    s_module = std::make_unique<RegisteredModule>();
}

void DeviceTest::TearDownTestSuite() {
    s_module.reset();
}

void DeviceTest::SetUp() {
    ASSERT_EQ(0u, s_module->exitCode()) << "regsvr32 could not register the module";
    m_settings = std::make_unique<RegistrySandbox>();
    ASSERT_TRUE(m_settings->ok());
}

void DeviceTest::TearDown() {
    m_settings.reset();
}

HRESULT DeviceTest::CreateFromMoniker(IBaseFilter** filter) {
    RETURN_HR_IF_NULL(E_POINTER, filter);
    ComPtr<IMoniker> moniker;
    RETURN_IF_FAILED(FindVideoInputDevice(kCaptureDeviceName, &moniker));
    return moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(filter));
}

}  // namespace qmtest
