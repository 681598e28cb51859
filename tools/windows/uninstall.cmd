@echo off
rem Uninstalls QM Capture Device: unregisters the x86 module and, on 64-bit
rem Windows, the x64 module, from the x86\ and x64\ folders beside this
rem script. Run it before deleting or moving this folder.
rem Exit status: 0 when every module was unregistered, 1 otherwise.
setlocal EnableExtensions
set "QM_HERE=%~dp0"
set "QM_MODULE=QMCaptureDevice.ax"

call :is_admin
if errorlevel 1 goto :elevate

call :find_regsvr32
set "QM_FAILED=0"
call :unregister x86 "%QM_REGSVR_X86%"
if defined QM_REGSVR_X64 (
    call :unregister x64 "%QM_REGSVR_X64%"
) else (
    echo 32-bit Windows: the x64 module is not needed.
)

echo.
if "%QM_FAILED%"=="0" (
    echo QM Capture Device is uninstalled. This folder may now be deleted.
) else (
    echo QM Capture Device is NOT fully uninstalled: see the errors above.
)
if /i "%~1"=="/elevated" pause
exit /b %QM_FAILED%

:unregister
rem %1: x86 or x64, %2: the regsvr32.exe of that architecture. Paths are
rem echoed outside parenthesised blocks: a folder such as
rem "Program Files (x86)" would otherwise end the block early.
set "QM_FILE=%QM_HERE%%~1\%QM_MODULE%"
if exist "%QM_FILE%" goto :unregister_file
echo ERROR: "%QM_FILE%" is missing. It cannot be unregistered without its file: put the folder back where it was installed from.
set "QM_FAILED=1"
exit /b 1
:unregister_file
"%~2" /u /s "%QM_FILE%"
set "QM_RC=%ERRORLEVEL%"
if "%QM_RC%"=="0" goto :unregistered
echo ERROR: unregistering the %~1 module failed (regsvr32 exit code %QM_RC%): "%QM_FILE%"
set "QM_FAILED=1"
exit /b 1
:unregistered
echo Unregistered the %~1 module: "%QM_FILE%"
exit /b 0

:find_regsvr32
rem On 64-bit Windows, SysWOW64 holds the 32-bit regsvr32 and System32 the
rem 64-bit one. A 32-bit command prompt sees SysWOW64 in place of System32
rem and reaches the real System32 as Sysnative.
set "QM_REGSVR_X64="
if defined PROCESSOR_ARCHITEW6432 goto :windows64
if /i not "%PROCESSOR_ARCHITECTURE%"=="x86" goto :windows64
set "QM_REGSVR_X86=%SystemRoot%\System32\regsvr32.exe"
exit /b 0
:windows64
set "QM_REGSVR_X86=%SystemRoot%\SysWOW64\regsvr32.exe"
set "QM_REGSVR_X64=%SystemRoot%\System32\regsvr32.exe"
if exist "%SystemRoot%\Sysnative\regsvr32.exe" set "QM_REGSVR_X64=%SystemRoot%\Sysnative\regsvr32.exe"
exit /b 0

:is_admin
rem Unregistering writes to HKEY_LOCAL_MACHINE, which needs administrator
rem rights. "net session" fails without them; "fltmc" is the fallback for
rem machines where the Server service is stopped.
net session >nul 2>&1
if not errorlevel 1 exit /b 0
fltmc >nul 2>&1
if not errorlevel 1 exit /b 0
exit /b 1

:elevate
if /i "%~1"=="/elevated" (
    echo ERROR: administrator rights are still missing after elevation.
    pause
    exit /b 1
)
echo Administrator rights are needed: asking for them...
set "QM_SCRIPT=%~f0"
powershell -NoProfile -ExecutionPolicy Bypass -Command "try { $p = Start-Process -FilePath $env:QM_SCRIPT -ArgumentList '/elevated' -Verb RunAs -Wait -PassThru -ErrorAction Stop; exit $p.ExitCode } catch { Write-Host ('ERROR: could not get administrator rights: ' + $_.Exception.Message); exit 1 }"
set "QM_RC=%ERRORLEVEL%"
if not "%QM_RC%"=="0" (
    echo Uninstalling failed or was cancelled ^(exit code %QM_RC%^). You can also right-click uninstall.cmd and choose "Run as administrator".
)
exit /b %QM_RC%
