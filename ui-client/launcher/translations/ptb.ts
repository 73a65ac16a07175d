<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="pt_BR" sourcelanguage="en_US">
<context>
    <name>global</name>
    <message>
        <location filename="../strtable.cpp" line="36"/>
        <source>Error</source>
        <translation>Erro</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="62"/>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="63"/>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="551"/>
        <source>%1 is ready.</source>
        <translation>O %1 está pronto.</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="567"/>
        <source>%1 is initializing...</source>
        <translation>Inicializando o %1...</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="870"/>
        <source>Corvane Client</source>
        <translation>Cliente Corvane</translation>
    </message>
</context>
</TS>
