unit UdpBytes;

{ What the examples need between Pascal and UDP.UdpSocket: byte arrays made with VarArrayCreate
  and read back, the port texts of Received and FromPort read as a person reads them, and a
  console that prints the control's messages (they are Japanese) as UTF-8. }

{$IFDEF FPC}{$MODE DELPHI}{$ENDIF}

interface

{ The bytes of Text in UTF-8 as a Variant byte array (varArray or varByte, lower bound 0): what
  SendTo takes. A string put into a Variant would go out as its UTF-16 bytes instead. }
function BytesOf(const Text: UTF8String): Variant;

{ The text of a byte array from the control (Received's Data, Receive's result) read as UTF-8.
  Received's array is the control's and valid only during the event: this copies it. }
function TextOf(const Data: Variant): UTF8String;

{ The number of bytes in such an array. }
function ByteCount(const Data: Variant): Integer;

{ Received's Port and FromPort are the decimal text of a signed 16-bit number, so ports above
  32767 arrive negative: port 54899 as '-10637'. This is the port as a person reads it. }
function PortOf(const PortText: string): Word;

{ Console output in UTF-8, so that the control's messages print as they are. }
procedure UseUtf8Console;

implementation

uses
  SysUtils, Variants;

const
  Utf8CodePage = 65001;

function BytesOf(const Text: UTF8String): Variant;
var
  Bytes: Pointer;
begin
  Result := VarArrayCreate([0, Length(Text) - 1], varByte);
  if Length(Text) = 0 then
    Exit;
  Bytes := VarArrayLock(Result);
  try
    Move(Text[1], Bytes^, Length(Text));
  finally
    VarArrayUnlock(Result);
  end;
end;

function ByteCount(const Data: Variant): Integer;
begin
  Result := VarArrayHighBound(Data, 1) - VarArrayLowBound(Data, 1) + 1;
end;

function TextOf(const Data: Variant): UTF8String;
var
  Bytes: Pointer;
begin
  SetLength(Result, ByteCount(Data));
  if Length(Result) = 0 then
    Exit;
  Bytes := VarArrayLock(Data);
  try
    Move(Bytes^, Result[1], Length(Result));
  finally
    VarArrayUnlock(Data);
  end;
end;

function PortOf(const PortText: string): Word;
begin
  Result := StrToInt(PortText) and $FFFF;
end;

procedure UseUtf8Console;
begin
{$IFDEF FPC}
  { Free Pascal's string is an AnsiString in the system code page: the control's WideString
    messages (EOleException.Message, WsError's Description) would lose their Japanese in the
    conversion. With UTF-8 as that code page they keep it. Delphi's string is UTF-16 already. }
  DefaultSystemCodePage := Utf8CodePage;
{$ENDIF}
  SetTextCodePage(Output, Utf8CodePage);
end;

end.
