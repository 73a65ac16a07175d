<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="hu_HU" sourcelanguage="en_US">
<context>
    <name>global</name>
    <message>
        <location filename="../strtable.cpp" line="34"/>
        <source>Error</source>
        <translation>Hiba</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="60"/>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="61"/>
        <source>Cancel</source>
        <translation>Mégse</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="549"/>
        <source>%1 is ready.</source>
        <translation>A(z) %1 készen áll.</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="565"/>
        <source>%1 is initializing...</source>
        <translation>A(z) %1 inicializálása folyamatban...</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="868"/>
        <source>Corvane Client</source>
        <translation>Corvane kliens</translation>
    </message>
</context>
</TS>
