@echo off
rem Registers the Orsanto agent to start in every interactive session (the
rem machine-wide Run key), or removes that registration again.
rem   orsanto-register register [folder]   (default: the folder of this script)
rem   orsanto-register unregister
setlocal
set RUNKEY=HKLM\Software\Microsoft\Windows\CurrentVersion\Run
set VALUE=Orsanto agent

if /i "%~1"=="register" goto register
if /i "%~1"=="unregister" goto unregister
echo usage: orsanto-register register [folder] ^| unregister
exit /b 1

:register
set FOLDER=%~2
if "%FOLDER%"=="" set FOLDER=%~dp0
if "%FOLDER:~-1%"=="\" set FOLDER=%FOLDER:~0,-1%
if not exist "%FOLDER%\orsanto-agent.exe" goto noagent
reg add "%RUNKEY%" /v "%VALUE%" /t REG_SZ /d "\"%FOLDER%\orsanto-agent.exe\"" /f >nul
if errorlevel 1 goto norights
echo The agent starts in every session from "%FOLDER%\orsanto-agent.exe".
exit /b 0

:unregister
reg query "%RUNKEY%" /v "%VALUE%" >nul 2>&1
if errorlevel 1 goto notregistered
reg delete "%RUNKEY%" /v "%VALUE%" /f >nul
if errorlevel 1 goto norights
echo The agent no longer starts by itself. Running agents end with: orsanto-print --stop-agent
exit /b 0

:notregistered
echo The agent was not registered.
exit /b 0

:noagent
echo orsanto-register: "%FOLDER%\orsanto-agent.exe" not found
exit /b 2

:norights
echo orsanto-register: cannot write %RUNKEY% (administrator rights needed)
exit /b 3
