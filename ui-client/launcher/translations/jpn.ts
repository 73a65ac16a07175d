<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP" sourcelanguage="en_US">
<context>
    <name>global</name>
    <message>
        <location filename="../strtable.cpp" line="34"/>
        <source>Error</source>
        <translation>エラー</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="60"/>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="61"/>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="549"/>
        <source>%1 is ready.</source>
        <translation>%1 の準備ができました。</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="565"/>
        <source>%1 is initializing...</source>
        <translation>%1 を初期化しています...</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="868"/>
        <source>Corvane Client</source>
        <translation>Corvane クライアント</translation>
    </message>
</context>
</TS>
