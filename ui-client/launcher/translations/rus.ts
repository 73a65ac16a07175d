<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU" sourcelanguage="en_US">
<context>
    <name>global</name>
    <message>
        <location filename="../strtable.cpp" line="34"/>
        <source>Error</source>
        <translation>Ошибка</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="60"/>
        <source>OK</source>
        <translation>ОК</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="61"/>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="549"/>
        <source>%1 is ready.</source>
        <translation>%1 готов к работе.</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="565"/>
        <source>%1 is initializing...</source>
        <translation>Инициализация %1...</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="868"/>
        <source>Corvane Client</source>
        <translation>Клиент Corvane</translation>
    </message>
</context>
</TS>
