<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE" sourcelanguage="en_US">
<context>
    <name>global</name>
    <message>
        <location filename="../strtable.cpp" line="36"/>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="62"/>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="63"/>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="147"/>
        <source>Are you sure you want to unlink this computer?\nSyncing stops until you link it again.</source>
        <translation>Möchten Sie die Verknüpfung dieses Computers wirklich aufheben?\nDie Synchronisierung stoppt, bis Sie ihn erneut verknüpfen.</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="481"/>
        <source>Version %1\nCopyright (C) Corvane. All rights reserved.</source>
        <translation>Version %1\nCopyright (C) Corvane. Alle Rechte vorbehalten.</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="551"/>
        <source>%1 is ready.</source>
        <translation>%1 ist bereit.</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="567"/>
        <source>%1 is initializing...</source>
        <translation>%1 wird initialisiert...</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="870"/>
        <source>Corvane Client</source>
        <translation>Corvane-Client</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="1067"/>
        <source>The logs will be saved to:\t%1</source>
        <translation>Die Protokolle werden hier gespeichert:\t%1</translation>
    </message>
</context>
</TS>
