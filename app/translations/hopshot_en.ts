<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>hopshot::Form1</name>
    <message>
        <source>DirectSoundは利用できません。</source>
        <translation>No sound device can be used.</translation>
    </message>
    <message>
        <source>DirectSound起動失敗！</source>
        <translation>The sound device could not be started!</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>効果音 &quot;%1&quot; を読み込めません。</source>
        <translation>The sound effect &quot;%1&quot; cannot be loaded.</translation>
    </message>
    <message>
        <source>ゲーム</source>
        <translation>Game</translation>
    </message>
    <message>
        <source>スタート</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>終わる</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>設定</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>人数設定</source>
        <translation>Players</translation>
    </message>
    <message>
        <source>１Ｐ</source>
        <translation>1P</translation>
    </message>
    <message>
        <source>２Ｐ</source>
        <translation>2P</translation>
    </message>
    <message>
        <source>３Ｐ</source>
        <translation>3P</translation>
    </message>
    <message>
        <source>４Ｐ</source>
        <translation>4P</translation>
    </message>
    <message>
        <source>画面設定</source>
        <translation>Screen</translation>
    </message>
    <message>
        <source>ライブカメラ</source>
        <translation>Live camera</translation>
    </message>
    <message>
        <source>小さい画面</source>
        <translation>Small screen</translation>
    </message>
    <message>
        <source>簡易表示</source>
        <translation>Simple display</translation>
    </message>
    <message>
        <source>ワイヤーフレームモード</source>
        <translation>Wireframe</translation>
    </message>
    <message>
        <source>ハイスコア</source>
        <translation>High scores</translation>
    </message>
    <message>
        <source>１人モード</source>
        <translation>One player</translation>
    </message>
    <message>
        <source>協力モード</source>
        <translation>Cooperative</translation>
    </message>
    <message>
        <source>１人モードハイスコア</source>
        <translation>One-player high score</translation>
    </message>
    <message>
        <source>協力モードハイスコア</source>
        <translation>Cooperative high score</translation>
    </message>
    <message>
        <source>The records of this run are not saved.</source>
        <translation>The records of this run are not saved.</translation>
    </message>
    <message>
        <source>NewRecord!</source>
        <translation>NewRecord!</translation>
    </message>
    <message>
        <source>おめでとうございます！ハイスコアです！</source>
        <translation>Congratulations! A new high score!</translation>
    </message>
    <message>
        <source>A replay  ·  Esc leaves</source>
        <translation>A replay  ·  Esc leaves</translation>
    </message>
    <message>
        <source>P pauses  ·  N one step while paused  ·  + and − speed</source>
        <translation>P pauses  ·  N one step while paused  ·  + and − speed</translation>
    </message>
    <message>
        <source>HopShot replay</source>
        <translation>HopShot replay</translation>
    </message>
    <message>
        <source> - over, Esc leaves</source>
        <translation> - over, Esc leaves</translation>
    </message>
    <message>
        <source> - game %1 of %2 - step %3</source>
        <translation> - game %1 of %2 - step %3</translation>
    </message>
    <message>
        <source> - paused (P resumes, N steps)</source>
        <translation> - paused (P resumes, N steps)</translation>
    </message>
    <message>
        <source> - new record: %1</source>
        <translation> - new record: %1</translation>
    </message>
    <message>
        <source>(no name)</source>
        <translation>(no name)</translation>
    </message>
    <message>
        <source>Paused — P goes on</source>
        <translation>Paused — P goes on</translation>
    </message>
    <message>
        <source>Paused — the host goes on with P</source>
        <translation>Paused — the host goes on with P</translation>
    </message>
    <message>
        <source>Controls</source>
        <translation>Controls</translation>
    </message>
    <message>
        <source>1P   ← →  turn    ↑ ↓  gun down / up    Ctrl  fire (hold to charge)</source>
        <translation>1P   ← →  turn    ↑ ↓  gun down / up    Ctrl  fire (hold to charge)</translation>
    </message>
    <message>
        <source>2P   A D  turn    W S  gun down / up    F  fire (hold to charge)</source>
        <translation>2P   A D  turn    W S  gun down / up    F  fire (hold to charge)</translation>
    </message>
    <message>
        <source>3P   joystick 1: stick left / right turns,
       forward / back moves the gun, button 1 fires</source>
        <translation>3P   joystick 1: stick left / right turns,
       forward / back moves the gun, button 1 fires</translation>
    </message>
    <message>
        <source>4P   joystick 2: stick left / right turns,
       forward / back moves the gun, button 1 fires</source>
        <translation>4P   joystick 2: stick left / right turns,
       forward / back moves the gun, button 1 fires</translation>
    </message>
    <message>
        <source>P or Pause   pause / go on</source>
        <translation>P or Pause   pause / go on</translation>
    </message>
    <message>
        <source>F1   this help (the game waits)</source>
        <translation>F1   this help (the game waits)</translation>
    </message>
    <message>
        <source>F11   full screen</source>
        <translation>F11   full screen</translation>
    </message>
    <message>
        <source>Esc   leave the network game</source>
        <translation>Esc   leave the network game</translation>
    </message>
    <message>
        <source>Esc   stop the game</source>
        <translation>Esc   stop the game</translation>
    </message>
</context>
</TS>
