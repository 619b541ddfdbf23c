program UdpEchoClient;

{ A console client of UDP.UdpSocket, late bound through Variant: sends one line to a UDP echo
  service, prints the answer and who sent it, then shows how the control reports a bad argument
  (an EOleException carrying the control's code and message).
  Usage: UdpEchoClient <port> [host]          (udp.ocx registered with regsvr32) }

{$APPTYPE CONSOLE}
{$IFDEF FPC}{$MODE DELPHI}{$ENDIF}

uses
  SysUtils, Variants, ActiveX, ComObj, UdpBytes;

const
  { Receive and Wait are always given a time: without one they only look at what already came. }
  AnswerTimeout = 2000;

{ A number is no byte data: SendTo refuses it inside the call. The control's errors arrive as
  EOleException with ErrorCode $800A0000 + the control's code (here 29909, "an argument's value is
  invalid") and the control's message. }
procedure ShowBadArgument(const Udp: Variant; const Host, Port: string);
begin
  try
    Udp.SendTo(Host, Port, 42);
    Writeln('SendTo took a number as its data');
  except
    on E: EOleException do
      Writeln('SendTo with a number as data: EOleException $', IntToHex(E.ErrorCode, 8),
        ' (code ', E.ErrorCode and $FFFF, '): ', E.Message);
  end;
end;

function Run(const Host, Port: string): Integer;
var
  Udp, Answer: Variant;
begin
  Result := 1;
  Udp := CreateOleObject('UDP.UdpSocket');
  { string('0'): Free Pascal reads a one-character literal as a Char, which no late-bound call
    can pass. '0' lets the system choose the local port. }
  Udp.Open(string('0'));
  try
    Udp.SendTo(Host, Port, BytesOf('hello from Pascal'));
    { Receive processes this thread's messages until a datagram arrives or the time is up;
      Empty when nothing came. }
    Answer := Udp.Receive(AnswerTimeout);
    if VarIsEmpty(Answer) then
      Writeln('no answer within ', AnswerTimeout, ' ms')
    else
    begin
      Writeln('echo of ', ByteCount(Answer), ' bytes from ', VarToStr(Udp.FromAddress), ' port ',
        PortOf(Udp.FromPort), ' (FromPort ''', VarToStr(Udp.FromPort), '''): ', TextOf(Answer));
      Result := 0;
    end;
    ShowBadArgument(Udp, Host, Port);
  finally
    Udp.Close;
  end;
end;

var
  Host: string;
begin
  if ParamCount < 1 then
  begin
    Writeln('usage: UdpEchoClient <port> [host]');
    Halt(2);
  end;
  Host := '127.0.0.1';
  if ParamCount > 1 then
    Host := ParamStr(2);
  UseUtf8Console;
  { An apartment of our own (a console program has none): UdpSocket is apartment-threaded. }
  CoInitialize(nil);
  try
    ExitCode := Run(Host, ParamStr(1));
  except
    on E: Exception do
    begin
      Writeln(E.ClassName, ': ', E.Message);
      ExitCode := 1;
    end;
  end;
  CoUninitialize;
end.
