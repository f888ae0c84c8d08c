<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ko_KR">
<context>
    <name>tempocalc::Form1</name>
    <message>
        <source>average</source>
        <translation>평균</translation>
    </message>
    <message>
        <source>tempo</source>
        <translation>템포</translation>
    </message>
    <message>
        <source>1/4 note</source>
        <translation>4분음표</translation>
    </message>
    <message>
        <source>1/8 note</source>
        <translation>8분음표</translation>
    </message>
    <message>
        <source>1/12 note</source>
        <translation>12분음표</translation>
    </message>
    <message>
        <source>Division by zero</source>
        <translation>0으로 나누기</translation>
    </message>
    <message>
        <source>Overflow</source>
        <translation>오버플로</translation>
    </message>
    <message>
        <source>Tempo calculator</source>
        <translation>템포 계산기</translation>
    </message>
    <message>
        <source>Strike the spacebar with the music!</source>
        <translation>음악에 맞춰 스페이스바를 치세요!</translation>
    </message>
    <message>
        <source>Tempo</source>
        <translation>템포</translation>
    </message>
    <message>
        <source>Input note toggle</source>
        <translation>음표 바꾸기</translation>
    </message>
    <message>
        <source>Note value</source>
        <translation>음표</translation>
    </message>
    <message>
        <source>programmed by lurano</source>
        <translation>프로그래머 lurano</translation>
    </message>
    <message>
        <source>Average</source>
        <translation>평균</translation>
    </message>
    <message>
        <source>Ave</source>
        <translation>평균</translation>
    </message>
    <message>
        <source>initialize</source>
        <translation>초기화</translation>
    </message>
    <message>
        <source>Run-time error &apos;%1&apos;:

%2</source>
        <translation>런타임 오류 &apos;%1&apos;:

%2</translation>
    </message>
    <message>
        <source>English version / programmer : lurano #mail : lurano@example.org  Special thanks : everyone who tapped along and counted the beats</source>
        <translation>한국어 버전 / 프로그래머 : lurano #mail : lurano@example.org  특별히 감사 : 함께 박자를 두드리고 세어 준 모든 분</translation>
    </message>
    <message numerus="yes">
        <source>%1 ± %2 BPM over %n strikes</source>
        <translation>
            <numerusform>%n번 타격에 걸쳐 %1 ± %2 BPM</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 BPM over two strikes</source>
        <translation>두 번 타격에 걸쳐 %1 BPM</translation>
    </message>
    <message>
        <source>A line through the strikes, from the second strike on</source>
        <translation>두 번째 타격부터, 타격을 지나는 직선</translation>
    </message>
    <message numerus="yes">
        <source>Mean of the tempos: %1 BPM (intervals: %n)</source>
        <translation>
            <numerusform>템포의 평균: %1 BPM (간격 %n개)</numerusform>
        </translation>
    </message>
    <message>
        <source>The mean of the tempos, from the second strike on</source>
        <translation>두 번째 타격부터, 템포의 평균</translation>
    </message>
    <message>
        <source>Press the space bar on every beat. Right-click, the Menu key or Shift+F10 opens the options.</source>
        <translation>박자마다 스페이스바를 누르세요. 오른쪽 클릭, 메뉴 키 또는 Shift+F10으로 옵션을 엽니다.</translation>
    </message>
    <message>
        <source>The beat goes on at %1 BPM (the line through the strikes)</source>
        <translation>박자는 %1 BPM으로 이어집니다 (타격을 지나는 직선)</translation>
    </message>
    <message>
        <source>beat %1 of %2</source>
        <translation>%2박 중 %1박</translation>
    </message>
    <message>
        <source>Listening on JACK: no beat heard yet</source>
        <translation>JACK에서 듣는 중: 아직 들린 박이 없습니다</translation>
    </message>
    <message>
        <source>No beat in the music: the beat heard last goes on at %1 BPM</source>
        <translation>음악에 박이 없습니다: 마지막으로 들린 박이 %1 BPM으로 계속됩니다</translation>
    </message>
    <message>
        <source>Heard in the music: %1 BPM, not sure yet (%2 %)</source>
        <translation>음악에서 들림: %1 BPM, 아직 확실하지 않음 (%2 %)</translation>
    </message>
    <message>
        <source>Heard in the music: %1 BPM, on your strikes (sure: %2 %)</source>
        <translation>음악에서 들림: %1 BPM, 두드림에 맞춤 (확실도: %2 %)</translation>
    </message>
    <message>
        <source>Heard in the music: %1 BPM (sure: %2 %)</source>
        <translation>음악에서 들림: %1 BPM (확실도: %2 %)</translation>
    </message>
</context>
<context>
    <name>tempocalc::JackControl</name>
    <message>
        <source>No JACK server is running: the JACK entries wait for one (on PipeWire, run the program through pw-jack).</source>
        <translation>실행 중인 JACK 서버가 없습니다: JACK 항목은 서버를 기다립니다 (PipeWire에서는 pw-jack으로 프로그램을 실행하세요).</translation>
    </message>
    <message>
        <source>JACK stopped: the MIDI clock, the click and the taps from JACK wait for it to come back.</source>
        <translation>JACK이 멈췄습니다: MIDI 클록, 클릭, JACK 탭은 JACK이 돌아오기를 기다립니다.</translation>
    </message>
</context>
<context>
    <name>tempocalc::JackEntry</name>
    <message>
        <source>Send MIDI clock (JACK)</source>
        <translation>MIDI 클록 보내기 (JACK)</translation>
    </message>
    <message>
        <source>Click on the beat (JACK)</source>
        <translation>박자마다 클릭 (JACK)</translation>
    </message>
    <message>
        <source>connecting to JACK…</source>
        <translation>JACK에 연결 중…</translation>
    </message>
    <message>
        <source>waiting for JACK</source>
        <translation>JACK 대기 중</translation>
    </message>
    <message>
        <source>stopping…</source>
        <translation>멈추는 중…</translation>
    </message>
    <message>
        <source>%1 — %2</source>
        <translation>%1 — %2</translation>
    </message>
    <message>
        <source>Listen on JACK</source>
        <translation>JACK에서 듣기</translation>
    </message>
</context>
<context>
    <name>tempocalc::LinkEntry</name>
    <message>
        <source>Share tempo with Link</source>
        <translation>Link로 템포 공유</translation>
    </message>
    <message>
        <source>Share tempo with Link (from the first tempo)</source>
        <translation>Link로 템포 공유 (첫 템포부터)</translation>
    </message>
    <message numerus="yes">
        <source>Share tempo with Link (%n peers)</source>
        <translation>
            <numerusform>Link로 템포 공유 (참가자 %n명)</numerusform>
        </translation>
    </message>
    <message>
        <source>Link session: %1 BPM</source>
        <translation>Link 세션: %1 BPM</translation>
    </message>
    <message>
        <source>Put Link&apos;s beats on the taps</source>
        <translation>Link 박자를 탭에 맞추기</translation>
    </message>
</context>
<context>
    <name>tempocalc::MidiEntry</name>
    <message>
        <source>Tap from MIDI</source>
        <translation>MIDI로 치기</translation>
    </message>
    <message>
        <source>No MIDI inputs</source>
        <translation>MIDI 입력 없음</translation>
    </message>
    <message>
        <source>None</source>
        <translation>없음</translation>
    </message>
    <message>
        <source>%1 (missing)</source>
        <translation>%1 (없어짐)</translation>
    </message>
    <message>
        <source>Learn tap…</source>
        <translation>탭 배우기…</translation>
    </message>
    <message>
        <source>%1 (not connected)</source>
        <translation>%1 (연결 안 됨)</translation>
    </message>
    <message>
        <source>Learning… strike the pedal</source>
        <translation>학습 중… 페달을 밟으세요</translation>
    </message>
    <message>
        <source>note %1, channel %2</source>
        <translation>노트 %1, 채널 %2</translation>
    </message>
    <message>
        <source>controller %1, channel %2</source>
        <translation>컨트롤러 %1, 채널 %2</translation>
    </message>
    <message>
        <source>Tap on: %1</source>
        <translation>탭: %1</translation>
    </message>
    <message>
        <source>Any note or pedal</source>
        <translation>모든 노트나 페달</translation>
    </message>
    <message>
        <source>Learning… strike the one</source>
        <translation>학습 중… 첫 박을 치세요</translation>
    </message>
    <message>
        <source>Learn the one…</source>
        <translation>첫 박 학습…</translation>
    </message>
    <message>
        <source>The one on: %1</source>
        <translation>첫 박: %1</translation>
    </message>
    <message>
        <source>No message for the one</source>
        <translation>첫 박 메시지 없음</translation>
    </message>
</context>
<context>
    <name>tempocalc::OptionsMenu</name>
    <message>
        <source>Mean of the tempos</source>
        <translation>템포의 평균</translation>
    </message>
    <message>
        <source>Line through the strikes</source>
        <translation>타격을 지나는 직선</translation>
    </message>
    <message>
        <source>Copy average</source>
        <translation>평균 복사</translation>
    </message>
    <message>
        <source>Flash the beat</source>
        <translation>박자에 맞춰 깜빡이기</translation>
    </message>
    <message>
        <source>Beats in a bar</source>
        <translation>마디의 박 수</translation>
    </message>
    <message>
        <source>Mark the one</source>
        <translation>첫 박 지정</translation>
    </message>
</context>
<context>
    <name>tempocalc::SettingsNotice</name>
    <message>
        <source>The settings in %1 cannot be read: every option starts as it was at first.</source>
        <translation>%1의 설정을 읽을 수 없습니다: 모든 옵션이 처음 상태로 시작합니다.</translation>
    </message>
    <message>
        <source>Some lines of %1 cannot be read: what they held starts as it was at first.</source>
        <translation>%1의 일부 줄을 읽을 수 없습니다: 그 줄에 있던 설정은 처음 상태로 시작합니다.</translation>
    </message>
    <message>
        <source>Your choices cannot be saved in %1: they hold until the program ends.</source>
        <translation>선택한 내용을 %1에 저장할 수 없습니다: 프로그램을 끝낼 때까지만 유지됩니다.</translation>
    </message>
    <message>
        <source>Your choices cannot be saved, as %1 is in the way: they hold until the program ends.</source>
        <translation>%1 때문에 선택한 내용을 저장할 수 없습니다: 프로그램을 끝낼 때까지만 유지됩니다.</translation>
    </message>
    <message>
        <source>The setting %1 = &quot;%2&quot; in %3 is not true or false: it stays off.</source>
        <translation>%3의 설정 %1 = “%2”은(는) true도 false도 아닙니다: 꺼진 상태로 둡니다.</translation>
    </message>
    <message>
        <source>The setting %1 = &quot;%2&quot; in %3 is not mean or line: Ave stays the mean of the tempos.</source>
        <translation>%3의 설정 %1 = “%2”은(는) mean도 line도 아닙니다: 평균은 템포의 평균으로 둡니다.</translation>
    </message>
    <message>
        <source>The setting %1 = &quot;%2&quot; in %3 is not 4, 8 or 12: a stage box strikes in quarter notes.</source>
        <translation>%3의 설정 %1 = &quot;%2&quot;은(는) 4, 8, 12가 아닙니다: 스테이지 박스는 4분음표로 칩니다.</translation>
    </message>
    <message>
        <source>The setting %1 = &quot;%2&quot; in %3 is no number from 2 to 7: bars stay of four beats.</source>
        <translation>%3의 설정 %1 = &quot;%2&quot;은(는) 2에서 7 사이의 수가 아닙니다: 마디는 4박으로 유지됩니다.</translation>
    </message>
</context>
</TS>
