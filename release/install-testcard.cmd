@echo off
rem Registers the Fernwood test card (fernwood_testcard.dll beside this file).
rem Packaged in code page 932 with CRLF line ends, as cmd.exe reads it on a Japanese system.
setlocal
set "DLL=%~dp0fernwood_testcard.dll"
echo Fernwood View テストカードの登録 / installing the test card
echo （管理者として実行したコマンドプロンプトが必要です / needs a command prompt run as administrator）
if not exist "%DLL%" (
    echo fernwood_testcard.dll がこのフォルダにありません / fernwood_testcard.dll is missing: "%DLL%"
    goto failed
)
regsvr32 /s "%DLL%"
if errorlevel 1 goto refused
echo 登録しました: Fernwood HD Test Card（映像）と Fernwood HD Test Card Audio（音声）
echo Installed: "Fernwood HD Test Card" (video) and "Fernwood HD Test Card Audio" (sound)
echo 登録したファイル / registered file: "%DLL%"
echo このファイルを動かしたり消したりする前に uninstall-testcard.cmd を実行してください。
echo Run uninstall-testcard.cmd before moving or deleting it.
pause
exit /b 0

:refused
echo 登録できませんでした。このファイルを右クリックして「管理者として実行」を選んでください。
echo The test card could not be registered: right-click this file and choose "Run as administrator".
:failed
pause
exit /b 1
