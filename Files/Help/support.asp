<!DOCTYPE html>
<html lang="en">
<head>
<meta http-equiv="Content-Type" content="text/html; charset=windows-1252">
<title>Vantrell Switch Help - Support</title>
<style>body{font-family:Verdana,Arial,sans-serif;font-size:13px;color:#000;margin:16px 24px;max-width:760px}h1{font-size:18px;color:#4A5FA6;border-bottom:2px solid #4A5FA6;padding-bottom:4px}h2{font-size:14px;color:#4A5FA6;margin-top:18px}table{border-collapse:collapse;width:100%}th{background:#4A5FA6;color:#fff;text-align:left;padding:3px 6px}td{border-bottom:1px solid #E0DFE3;padding:3px 6px;vertical-align:top}td.c{white-space:nowrap;font-weight:bold;width:34%}p.nav{font-size:11px;color:#555}</style>
</head>
<body>
<p class="nav">Vantrell Switch - Web Admin help | <a href="index.html">Contents</a></p>
<h1>Support</h1>
<p>The vendor&#x27;s support page, with the version and the features in use (name, compression, SSL, load balancing) passed along.</p>
<h2>See also</h2>
<ul>
<li><a href="index.html">Contents</a></li>
</ul>
</body>
</html>
