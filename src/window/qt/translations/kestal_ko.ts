<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ko_KR">
<context>
    <name>AboutDialog</name>
    <message>
        <source>About kestal</source>
        <translation>kestal 정보</translation>
    </message>
    <message>
        <source>kestal version %1</source>
        <translation>kestal 버전 %1</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>확인</translation>
    </message>
</context>
</TS>
