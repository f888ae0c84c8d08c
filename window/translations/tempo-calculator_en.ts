<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>tempocalc::Form1</name>
    <message>
        <source>average</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>tempo</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1/4 note</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1/8 note</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1/12 note</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Division by zero</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Overflow</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Tempo calculator</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Strike the spacebar with the music!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Tempo</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Input note toggle</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Note value</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>programmed by lurano</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Average</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ave</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>initialize</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>%1 ± %2 BPM over %n strikes</source>
        <translation>
            <numerusform>%1 ± %2 BPM over %n strike</numerusform>
            <numerusform>%1 ± %2 BPM over %n strikes</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 BPM over two strikes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A line through the strikes, from the second strike on</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Mean of the tempos: %1 BPM (intervals: %n)</source>
        <translation>
            <numerusform>Mean of the tempos: %1 BPM (intervals: %n)</numerusform>
            <numerusform>Mean of the tempos: %1 BPM (intervals: %n)</numerusform>
        </translation>
    </message>
    <message>
        <source>The mean of the tempos, from the second strike on</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Run-time error &apos;%1&apos;:

%2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>English version / programmer : lurano #mail : lurano@example.org  Special thanks : everyone who tapped along and counted the beats</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Press the space bar on every beat. Right-click, the Menu key or Shift+F10 opens the options.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The beat goes on at %1 BPM (the line through the strikes)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>beat %1 of %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Listening on JACK: no beat heard yet</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No beat in the music: the beat heard last goes on at %1 BPM</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Heard in the music: %1 BPM, not sure yet (%2 %)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Heard in the music: %1 BPM, on your strikes (sure: %2 %)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Heard in the music: %1 BPM (sure: %2 %)</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tempocalc::JackControl</name>
    <message>
        <source>No JACK server is running: the JACK entries wait for one (on PipeWire, run the program through pw-jack).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>JACK stopped: the MIDI clock, the click and the taps from JACK wait for it to come back.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tempocalc::JackEntry</name>
    <message>
        <source>Send MIDI clock (JACK)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Click on the beat (JACK)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>connecting to JACK…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>waiting for JACK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>stopping…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 — %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Listen on JACK</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tempocalc::LinkEntry</name>
    <message>
        <source>Share tempo with Link</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Share tempo with Link (from the first tempo)</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Share tempo with Link (%n peers)</source>
        <translation>
            <numerusform>Share tempo with Link (%n peer)</numerusform>
            <numerusform>Share tempo with Link (%n peers)</numerusform>
        </translation>
    </message>
    <message>
        <source>Link session: %1 BPM</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Put Link&apos;s beats on the taps</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tempocalc::MidiEntry</name>
    <message>
        <source>Tap from MIDI</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No MIDI inputs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>None</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 (missing)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Learn tap…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 (not connected)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Learning… strike the pedal</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>note %1, channel %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>controller %1, channel %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Tap on: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Any note or pedal</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Learning… strike the one</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Learn the one…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The one on: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No message for the one</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tempocalc::OptionsMenu</name>
    <message>
        <source>Mean of the tempos</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Line through the strikes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy average</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Flash the beat</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Beats in a bar</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Mark the one</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>tempocalc::SettingsNotice</name>
    <message>
        <source>The settings in %1 cannot be read: every option starts as it was at first.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Some lines of %1 cannot be read: what they held starts as it was at first.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Your choices cannot be saved in %1: they hold until the program ends.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Your choices cannot be saved, as %1 is in the way: they hold until the program ends.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The setting %1 = &quot;%2&quot; in %3 is not true or false: it stays off.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The setting %1 = &quot;%2&quot; in %3 is not mean or line: Ave stays the mean of the tempos.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The setting %1 = &quot;%2&quot; in %3 is not 4, 8 or 12: a stage box strikes in quarter notes.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The setting %1 = &quot;%2&quot; in %3 is no number from 2 to 7: bars stay of four beats.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
