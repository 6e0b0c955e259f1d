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
    <message>
        <source>ネットワーク</source>
        <translation>Network</translation>
    </message>
    <message>
        <source>ゲームをホスト…</source>
        <translation>Host a game…</translation>
    </message>
    <message>
        <source>ゲームに参加…</source>
        <translation>Join a game…</translation>
    </message>
</context>
<context>
    <name>hopshot::NetworkDialog</name>
    <message>
        <source>ネットワーク対戦</source>
        <translation>Network play</translation>
    </message>
    <message>
        <source>ホスト</source>
        <translation>Host</translation>
    </message>
    <message>
        <source>参加</source>
        <translation>Join</translation>
    </message>
    <message>
        <source>ミーティングサービス(&amp;M):</source>
        <translation>&amp;Meeting service:</translation>
    </message>
    <message>
        <source>キャンセル(&amp;N)</source>
        <translation>Ca&amp;ncel</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>アドレスで(&amp;A)</source>
        <translation>By &amp;address</translation>
    </message>
    <message>
        <source>招待コードで(&amp;I)</source>
        <translation>By &amp;invite code</translation>
    </message>
    <message>
        <source>ポート(&amp;P):</source>
        <translation>&amp;Port:</translation>
    </message>
    <message>
        <source>ホストする(&amp;H)</source>
        <translation>&amp;Host</translation>
    </message>
    <message>
        <source>コピー(&amp;O)</source>
        <translation>C&amp;opy</translation>
    </message>
    <message>
        <source>招待コード:</source>
        <translation>Invite code:</translation>
    </message>
    <message>
        <source>マシン:</source>
        <translation>Machines:</translation>
    </message>
    <message>
        <source>スタート(&amp;S)</source>
        <translation>&amp;Start</translation>
    </message>
    <message>
        <source>やめる(&amp;E)</source>
        <translation>&amp;End</translation>
    </message>
    <message>
        <source>招待コード、またはアドレス[:ポート]</source>
        <translation>an invite code, or ADDRESS[:PORT]</translation>
    </message>
    <message>
        <source>コードかアドレス(&amp;C):</source>
        <translation>&amp;Code or address:</translation>
    </message>
    <message>
        <source>参加する(&amp;J)</source>
        <translation>&amp;Join</translation>
    </message>
    <message>
        <source>LANのゲーム(&amp;L):</source>
        <translation>Games on the &amp;LAN:</translation>
    </message>
    <message>
        <source>選んだゲームに参加(&amp;G)</source>
        <translation>Join the chosen &amp;game</translation>
    </message>
    <message>
        <source>接続中…</source>
        <translation>Connecting…</translation>
    </message>
    <message>
        <source>招待コードにはミーティングサービスが要ります。下の欄に名前を入れてください。</source>
        <translation>An invite code needs a meeting service: name one in the field below.</translation>
    </message>
    <message>
        <source>招待コードを待っています…</source>
        <translation>Waiting for the invite code…</translation>
    </message>
    <message>
        <source>ホストしています。</source>
        <translation>Hosting.</translation>
    </message>
    <message>
        <source>LANのゲームを選んでください。</source>
        <translation>Choose a game on the LAN.</translation>
    </message>
    <message>
        <source>キャンセルしました。</source>
        <translation>Cancelled.</translation>
    </message>
    <message>
        <source>参加しました。ホストのスタートを待っています。</source>
        <translation>Joined: waiting for the host to start.</translation>
    </message>
    <message>
        <source>招待コードをコピーしました。</source>
        <translation>The invite code is copied.</translation>
    </message>
    <message>
        <source>ホストしています。招待コードを相手に伝えてください。</source>
        <translation>Hosting: read the invite code to the other players.</translation>
    </message>
    <message>
        <source>マシン %1: プレイヤー %2</source>
        <translation>machine %1: players %2</translation>
    </message>
    <message>
        <source>（ホスト）</source>
        <translation> (host)</translation>
    </message>
    <message>
        <source>ネットワーク対戦を終えました。</source>
        <translation>The network game is over.</translation>
    </message>
    <message>
        <source>%1 — マシン %2、空きプレイヤー %3（%4）</source>
        <translation>%1 — machines %2, free players %3 (%4)</translation>
    </message>
    <message>
        <source>LANにゲームは聞こえません。</source>
        <translation>No game is heard on the LAN.</translation>
    </message>
    <message>
        <source>なし</source>
        <translation>none</translation>
    </message>
</context>
</TS>
