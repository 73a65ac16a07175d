<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en_US">
<context>
    <name>global</name>
    <message>
        <location filename="../strtable.cpp" line="36"/>
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="62"/>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="63"/>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="551"/>
        <source>%1 is ready.</source>
        <translation>%1已就绪。</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="567"/>
        <source>%1 is initializing...</source>
        <translation>%1正在初始化...</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="870"/>
        <source>Corvane Client</source>
        <translation>Corvane 客户端</translation>
    </message>
</context>
</TS>
