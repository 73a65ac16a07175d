<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR" sourcelanguage="en_US">
<context>
    <name>global</name>
    <message>
        <location filename="../strtable.cpp" line="36"/>
        <source>Error</source>
        <translation>Erreur</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="62"/>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="63"/>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="551"/>
        <source>%1 is ready.</source>
        <translation>%1 : prêt.</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="567"/>
        <source>%1 is initializing...</source>
        <translation>%1 : initialisation en cours...</translation>
    </message>
    <message>
        <location filename="../strtable.cpp" line="870"/>
        <source>Corvane Client</source>
        <translation>Client Corvane</translation>
    </message>
</context>
</TS>
