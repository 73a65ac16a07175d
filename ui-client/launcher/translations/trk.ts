<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="tr_TR" sourcelanguage="en_US">
<context>
    <name>global</name>
    <message>
        <location filename="../strtable.cpp" line="34"/>
        <source>Error</source>
        <translation>Hata</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="60"/>
        <source>OK</source>
        <translation>Tamam</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="61"/>
        <source>Cancel</source>
        <translation>İptal</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="549"/>
        <source>%1 is ready.</source>
        <translation>%1 hazır.</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="565"/>
        <source>%1 is initializing...</source>
        <translation>%1 başlatılıyor...</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="868"/>
        <source>Corvane Client</source>
        <translation>Corvane İstemcisi</translation>
    </message>
</context>
</TS>
