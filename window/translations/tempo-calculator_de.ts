<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>tempocalc::Form1</name>
    <message>
        <source>average</source>
        <translation>Mittel</translation>
    </message>
    <message>
        <source>tempo</source>
        <translation>Tempo</translation>
    </message>
    <message>
        <source>1/4 note</source>
        <translation>1/4-Note</translation>
    </message>
    <message>
        <source>1/8 note</source>
        <translation>1/8-Note</translation>
    </message>
    <message>
        <source>1/12 note</source>
        <translation>1/12-Note</translation>
    </message>
    <message>
        <source>Division by zero</source>
        <translation>Division durch Null</translation>
    </message>
    <message>
        <source>Overflow</source>
        <translation>Überlauf</translation>
    </message>
    <message>
        <source>Tempo calculator</source>
        <translation>Tempo-Rechner</translation>
    </message>
    <message>
        <source>Strike the spacebar with the music!</source>
        <translation>Schlag die Leertaste im Takt der Musik!</translation>
    </message>
    <message>
        <source>Tempo</source>
        <translation>Tempo</translation>
    </message>
    <message>
        <source>Input note toggle</source>
        <translation>Notenwert</translation>
    </message>
    <message>
        <source>Note value</source>
        <translation>Notenwert</translation>
    </message>
    <message>
        <source>programmed by lurano</source>
        <translation>programmiert von lurano</translation>
    </message>
    <message>
        <source>Average</source>
        <translation>Durchschnitt</translation>
    </message>
    <message>
        <source>Ave</source>
        <translation>Ø</translation>
    </message>
    <message>
        <source>initialize</source>
        <translation>Neustart</translation>
    </message>
    <message>
        <source>Run-time error &apos;%1&apos;:

%2</source>
        <translation>Laufzeitfehler '%1':

%2</translation>
    </message>
    <message>
        <source>English version / programmer : lurano #mail : lurano@example.org  Special thanks : everyone who tapped along and counted the beats</source>
        <translation>Deutsche Version / Programmierer : lurano #mail : lurano@example.org  Besonderer Dank : allen, die mitgeklopft und mitgezählt haben</translation>
    </message>
</context>
</TS>
