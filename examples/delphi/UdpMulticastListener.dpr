program UdpMulticastListener;

{ Listens to a multicast group through UDP.UdpSocket, late bound: opens the port, joins the
  group, prints each datagram that arrives, leaves the group and closes. It stops after Count
  datagrams, or when none came for 10 s.
  Usage: UdpMulticastListener <group> <port> [interface address] [count]
  e.g.   UdpMulticastListener 239.255.10.11 5000 127.0.0.1 2     (udp.ocx registered) }

{$APPTYPE CONSOLE}
{$IFDEF FPC}{$MODE DELPHI}{$ENDIF}

uses
  SysUtils, Variants, ActiveX, ComObj, UdpBytes;

const
  QuietTimeout = 10000; { ms without a datagram before giving up }

function Listen(const Group, Port, LocalInterface: string; Count: Integer): Integer;
var
  Udp, Data: Variant;
  Received: Integer;
begin
  Udp := CreateOleObject('UDP.UdpSocket');
  Udp.Open(Port);
  try
    { Without an interface the system chooses the one the group's route goes through. }
    if LocalInterface = '' then
    begin
      Udp.JoinGroup(Group);
      Writeln('joined ', Group, ', listening on port ', Port);
    end
    else
    begin
      Udp.JoinGroup(Group, LocalInterface);
      Writeln('joined ', Group, ' on ', LocalInterface, ', listening on port ', Port);
    end;
    { Whoever sends to the group may wait for this line: it goes out now, not at the end. }
    Flush(Output);
    Received := 0;
    while Received < Count do
    begin
      Data := Udp.Receive(QuietTimeout);
      if VarIsEmpty(Data) then
        Break;
      Inc(Received);
      Writeln('from ', VarToStr(Udp.FromAddress), ' port ', PortOf(Udp.FromPort), ': ',
        TextOf(Data));
    end;
    if LocalInterface = '' then
      Udp.LeaveGroup(Group)
    else
      Udp.LeaveGroup(Group, LocalInterface);
    Writeln('left ', Group, ' after ', Received, ' datagram(s)');
  finally
    Udp.Close;
  end;
  if Received = Count then
    Result := 0
  else
    Result := 1;
end;

var
  LocalInterface: string;
  Count: Integer;
begin
  if ParamCount < 2 then
  begin
    Writeln('usage: UdpMulticastListener <group> <port> [interface address] [count]');
    Halt(2);
  end;
  LocalInterface := ParamStr(3);
  Count := StrToIntDef(ParamStr(4), 1);
  UseUtf8Console;
  CoInitialize(nil);
  try
    ExitCode := Listen(ParamStr(1), ParamStr(2), LocalInterface, Count);
  except
    on E: Exception do
    begin
      Writeln(E.ClassName, ': ', E.Message);
      ExitCode := 1;
    end;
  end;
  CoUninitialize;
end.
