@echo off
rem Removes the Fernwood test card's registration (fernwood_testcard.dll beside this file).
rem Packaged in code page 932 with CRLF line ends, as cmd.exe reads it on a Japanese system.
setlocal
set "DLL=%~dp0fernwood_testcard.dll"
echo Fernwood View テストカードの登録解除 / uninstalling the test card
echo （管理者として実行したコマンドプロンプトが必要です / needs a command prompt run as administrator）
if not exist "%DLL%" (
    echo fernwood_testcard.dll がこのフォルダにありません / fernwood_testcard.dll is missing: "%DLL%"
    goto failed
)
regsvr32 /s /u "%DLL%"
if errorlevel 1 goto refused
echo 登録を解除しました: Fernwood HD Test Card と Fernwood HD Test Card Audio はもう現れません。
echo Uninstalled: "Fernwood HD Test Card" and "Fernwood HD Test Card Audio" are gone.
echo fernwood_testcard.dll は消してもかまいません / fernwood_testcard.dll may now be deleted.
pause
exit /b 0

:refused
echo 登録を解除できませんでした。このファイルを右クリックして「管理者として実行」を選んでください。
echo The registration could not be removed: right-click this file and choose "Run as administrator".
:failed
pause
exit /b 1
