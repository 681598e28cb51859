// Class identifiers of the capture filter and of its two settings pages.
#pragma once

#include <windows.h>

// {94521ABB-B63B-42E2-95AB-796E3C67134A}
inline constexpr GUID CLSID_CaptureDevice = {
    0x94521abb, 0xb63b, 0x42e2, {0x95, 0xab, 0x79, 0x6e, 0x3c, 0x67, 0x13, 0x4a}};

// {707A088C-0E07-4B49-881F-E54C9B39403B}
inline constexpr GUID CLSID_CaptureDeviceProp = {
    0x707a088c, 0x0e07, 0x4b49, {0x88, 0x1f, 0xe5, 0x4c, 0x9b, 0x39, 0x40, 0x3b}};

// {1FC2A4EE-C019-48EE-B293-2FF268371DD9}: the window page.
inline constexpr GUID CLSID_CaptureWindowProp = {
    0x1fc2a4ee, 0xc019, 0x48ee, {0xb2, 0x93, 0x2f, 0xf2, 0x68, 0x37, 0x1d, 0xd9}};

// Names under which the module registers its classes.
inline constexpr wchar_t kCaptureDeviceName[] = L"QM Capture Device";
inline constexpr wchar_t kCaptureDevicePropName[] = L"QMCapture Property";
inline constexpr wchar_t kCaptureWindowPropName[] = L"QMCapture Window Property";
