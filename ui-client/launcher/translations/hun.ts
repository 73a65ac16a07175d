<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="hu_HU" sourcelanguage="en_US">
<context>
    <name>global</name>
    <message>
        <location filename="../strtable.cpp" line="36"/>
        <source>Error</source>
        <translation>Hiba</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="62"/>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="63"/>
        <source>Cancel</source>
        <translation>Mégse</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="551"/>
        <source>%1 is ready.</source>
        <translation>A %1 készen áll.</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="567"/>
        <source>%1 is initializing...</source>
        <translation>A %1 inicializálása folyamatban...</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="870"/>
        <source>Corvane Client</source>
        <translation>Corvane-kliens</translation>
    </message>
</context>
</TS>
