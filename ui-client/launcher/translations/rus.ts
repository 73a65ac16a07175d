<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU" sourcelanguage="en_US">
<context>
    <name>global</name>
    <message>
        <location filename="../strtable.cpp" line="36"/>
        <source>Error</source>
        <translation>Ошибка</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="62"/>
        <source>OK</source>
        <translation>ОК</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="63"/>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="551"/>
        <source>%1 is ready.</source>
        <translation>%1 готов к работе.</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="567"/>
        <source>%1 is initializing...</source>
        <translation>%1 инициализируется...</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="870"/>
        <source>Corvane Client</source>
        <translation>Клиент Corvane</translation>
    </message>
</context>
</TS>
