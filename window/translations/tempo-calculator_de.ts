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
        <translation>Laufzeitfehler &apos;%1&apos;:

%2</translation>
    </message>
    <message>
        <source>English version / programmer : lurano #mail : lurano@example.org  Special thanks : everyone who tapped along and counted the beats</source>
        <translation>Deutsche Version / Programmierer : lurano #mail : lurano@example.org  Besonderer Dank : allen, die mitgeklopft und mitgezählt haben</translation>
    </message>
    <message numerus="yes">
        <source>%1 ± %2 BPM over %n strikes</source>
        <translation>
            <numerusform>%1 ± %2 BPM über %n Schlag</numerusform>
            <numerusform>%1 ± %2 BPM über %n Schläge</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 BPM over two strikes</source>
        <translation>%1 BPM über zwei Schläge</translation>
    </message>
    <message>
        <source>A line through the strikes, from the second strike on</source>
        <translation>Eine Gerade durch die Schläge, ab dem zweiten Schlag</translation>
    </message>
    <message numerus="yes">
        <source>Mean of the tempos: %1 BPM (intervals: %n)</source>
        <translation>
            <numerusform>Mittel der Tempi: %1 BPM (%n Abstand)</numerusform>
            <numerusform>Mittel der Tempi: %1 BPM (%n Abstände)</numerusform>
        </translation>
    </message>
    <message>
        <source>The mean of the tempos, from the second strike on</source>
        <translation>Das Mittel der Tempi, ab dem zweiten Schlag</translation>
    </message>
    <message>
        <source>Press the space bar on every beat. Right-click, the Menu key or Shift+F10 opens the options.</source>
        <translation>Drück bei jedem Schlag die Leertaste. Rechtsklick, die Menütaste oder Umschalt+F10 öffnet die Optionen.</translation>
    </message>
    <message>
        <source>The beat goes on at %1 BPM (the line through the strikes)</source>
        <translation>Der Takt läuft mit %1 BPM weiter (die Gerade durch die Schläge)</translation>
    </message>
    <message>
        <source>beat %1 of %2</source>
        <translation>Schlag %1 von %2</translation>
    </message>
    <message>
        <source>Listening on JACK: no beat heard yet</source>
        <translation>Lauschen über JACK: noch kein Schlag gehört</translation>
    </message>
    <message>
        <source>No beat in the music: the beat heard last goes on at %1 BPM</source>
        <translation>Kein Schlag in der Musik: der zuletzt gehörte Schlag läuft mit %1 BPM weiter</translation>
    </message>
    <message>
        <source>Heard in the music: %1 BPM, not sure yet (%2 %)</source>
        <translation>In der Musik gehört: %1 BPM, noch nicht sicher (%2 %)</translation>
    </message>
    <message>
        <source>Heard in the music: %1 BPM, on your strikes (sure: %2 %)</source>
        <translation>In der Musik gehört: %1 BPM, auf Ihren Schlägen (sicher: %2 %)</translation>
    </message>
    <message>
        <source>Heard in the music: %1 BPM (sure: %2 %)</source>
        <translation>In der Musik gehört: %1 BPM (sicher: %2 %)</translation>
    </message>
</context>
<context>
    <name>tempocalc::JackControl</name>
    <message>
        <source>No JACK server is running: the JACK entries wait for one (on PipeWire, run the program through pw-jack).</source>
        <translation>Kein JACK-Server läuft: die JACK-Einträge warten auf einen (unter PipeWire das Programm mit pw-jack starten).</translation>
    </message>
    <message>
        <source>JACK stopped: the MIDI clock, the click and the taps from JACK wait for it to come back.</source>
        <translation>JACK wurde beendet: MIDI-Clock, Klick und die Schläge über JACK warten, bis es wieder da ist.</translation>
    </message>
</context>
<context>
    <name>tempocalc::JackEntry</name>
    <message>
        <source>Send MIDI clock (JACK)</source>
        <translation>MIDI-Clock senden (JACK)</translation>
    </message>
    <message>
        <source>Click on the beat (JACK)</source>
        <translation>Klick im Takt (JACK)</translation>
    </message>
    <message>
        <source>connecting to JACK…</source>
        <translation>verbindet mit JACK…</translation>
    </message>
    <message>
        <source>waiting for JACK</source>
        <translation>wartet auf JACK</translation>
    </message>
    <message>
        <source>stopping…</source>
        <translation>hält an…</translation>
    </message>
    <message>
        <source>%1 — %2</source>
        <translation>%1 — %2</translation>
    </message>
    <message>
        <source>Listen on JACK</source>
        <translation>Über JACK lauschen</translation>
    </message>
</context>
<context>
    <name>tempocalc::LinkEntry</name>
    <message>
        <source>Share tempo with Link</source>
        <translation>Tempo mit Link teilen</translation>
    </message>
    <message>
        <source>Share tempo with Link (from the first tempo)</source>
        <translation>Tempo mit Link teilen (ab dem ersten Tempo)</translation>
    </message>
    <message numerus="yes">
        <source>Share tempo with Link (%n peers)</source>
        <translation>
            <numerusform>Tempo mit Link teilen (%n Teilnehmer)</numerusform>
            <numerusform>Tempo mit Link teilen (%n Teilnehmer)</numerusform>
        </translation>
    </message>
    <message>
        <source>Link session: %1 BPM</source>
        <translation>Link-Sitzung: %1 BPM</translation>
    </message>
    <message>
        <source>Put Link&apos;s beats on the taps</source>
        <translation>Link-Beats auf die Schläge legen</translation>
    </message>
</context>
<context>
    <name>tempocalc::MidiEntry</name>
    <message>
        <source>Tap from MIDI</source>
        <translation>Schlagen per MIDI</translation>
    </message>
    <message>
        <source>No MIDI inputs</source>
        <translation>Keine MIDI-Eingänge</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Keiner</translation>
    </message>
    <message>
        <source>%1 (missing)</source>
        <translation>%1 (fehlt)</translation>
    </message>
    <message>
        <source>Learn tap…</source>
        <translation>Schlag lernen…</translation>
    </message>
    <message>
        <source>%1 (not connected)</source>
        <translation>%1 (nicht verbunden)</translation>
    </message>
    <message>
        <source>Learning… strike the pedal</source>
        <translation>Lernt… tritt das Pedal</translation>
    </message>
    <message>
        <source>note %1, channel %2</source>
        <translation>Note %1, Kanal %2</translation>
    </message>
    <message>
        <source>controller %1, channel %2</source>
        <translation>Controller %1, Kanal %2</translation>
    </message>
    <message>
        <source>Tap on: %1</source>
        <translation>Schlag auf: %1</translation>
    </message>
    <message>
        <source>Any note or pedal</source>
        <translation>Jede Note und jedes Pedal</translation>
    </message>
    <message>
        <source>Learning… strike the one</source>
        <translation>Lernt… schlag die Eins</translation>
    </message>
    <message>
        <source>Learn the one…</source>
        <translation>Die Eins lernen…</translation>
    </message>
    <message>
        <source>The one on: %1</source>
        <translation>Die Eins auf: %1</translation>
    </message>
    <message>
        <source>No message for the one</source>
        <translation>Keine Nachricht für die Eins</translation>
    </message>
</context>
<context>
    <name>tempocalc::OptionsMenu</name>
    <message>
        <source>Mean of the tempos</source>
        <translation>Mittel der Tempi</translation>
    </message>
    <message>
        <source>Line through the strikes</source>
        <translation>Gerade durch die Schläge</translation>
    </message>
    <message>
        <source>Copy average</source>
        <translation>Durchschnitt kopieren</translation>
    </message>
    <message>
        <source>Flash the beat</source>
        <translation>Im Takt blinken</translation>
    </message>
    <message>
        <source>Beats in a bar</source>
        <translation>Schläge im Takt</translation>
    </message>
    <message>
        <source>Mark the one</source>
        <translation>Die Eins setzen</translation>
    </message>
</context>
<context>
    <name>tempocalc::SettingsNotice</name>
    <message>
        <source>The settings in %1 cannot be read: every option starts as it was at first.</source>
        <translation>Die Einstellungen in %1 können nicht gelesen werden: Alle Optionen beginnen wie beim ersten Start.</translation>
    </message>
    <message>
        <source>Some lines of %1 cannot be read: what they held starts as it was at first.</source>
        <translation>Einige Zeilen in %1 können nicht gelesen werden: Was darin stand, beginnt wie beim ersten Start.</translation>
    </message>
    <message>
        <source>Your choices cannot be saved in %1: they hold until the program ends.</source>
        <translation>Deine Auswahl kann nicht in %1 gespeichert werden: Sie gilt, bis das Programm endet.</translation>
    </message>
    <message>
        <source>Your choices cannot be saved, as %1 is in the way: they hold until the program ends.</source>
        <translation>Deine Auswahl kann nicht gespeichert werden, weil %1 im Weg ist: Sie gilt, bis das Programm endet.</translation>
    </message>
    <message>
        <source>The setting %1 = &quot;%2&quot; in %3 is not true or false: it stays off.</source>
        <translation>Die Einstellung %1 = „%2“ in %3 ist weder true noch false: Sie bleibt aus.</translation>
    </message>
    <message>
        <source>The setting %1 = &quot;%2&quot; in %3 is not mean or line: Ave stays the mean of the tempos.</source>
        <translation>Die Einstellung %1 = „%2“ in %3 ist weder mean noch line: Ø bleibt das Mittel der Tempi.</translation>
    </message>
    <message>
        <source>The setting %1 = &quot;%2&quot; in %3 is not 4, 8 or 12: a stage box strikes in quarter notes.</source>
        <translation>Die Einstellung %1 = „%2“ in %3 ist weder 4, 8 noch 12: eine Bühnenbox schlägt in Vierteln.</translation>
    </message>
    <message>
        <source>The setting %1 = &quot;%2&quot; in %3 is no number from 2 to 7: bars stay of four beats.</source>
        <translation>Die Einstellung %1 = „%2“ in %3 ist keine Zahl von 2 bis 7: die Takte bleiben bei vier Schlägen.</translation>
    </message>
</context>
</TS>
