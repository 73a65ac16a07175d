<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="pl_PL" sourcelanguage="en_US">
<context>
    <name>global</name>
    <message>
        <location filename="../strtable.cpp" line="34"/>
        <source>Error</source>
        <translation>Błąd</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="60"/>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="61"/>
        <source>Cancel</source>
        <translation>Anuluj</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="549"/>
        <source>%1 is ready.</source>
        <translation>%1 jest gotowy.</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="565"/>
        <source>%1 is initializing...</source>
        <translation>Trwa inicjowanie %1...</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="868"/>
        <source>Corvane Client</source>
        <translation>Klient Corvane</translation>
    </message>
</context>
</TS>
